#include "HidReportDescriptor.h"

#include <QTest>

namespace {

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QString flagText(const HidMainItemFlags &f)
{
    QStringList names;
    const std::pair<bool, const char *> all[] = {
        {f.constant, "Cnst"},    {f.array, "Arr"},        {f.relative, "Rel"},
        {f.wrap, "Wrap"},        {f.nonlinear, "NLin"},   {f.noPreferred, "NoPref"},
        {f.nullState, "Null"},   {f.isVolatile, "Vol"},   {f.bufferedBytes, "Buf"},
    };
    for (const auto &[set, name] : all) {
        if (set)
            names << QLatin1String(name);
    }
    return names.join(QLatin1Char(','));
}

// One line per variable, so that a row states every attribute it expects at a glance.
QString variableText(const HidVariable &v)
{
    return QString::asprintf("%s#%d %04x:%04x @%d/%d x%d L%d..%d P%d..%d U0x%x E%d S%d%s [%s]",
                             qPrintable(hidReportTypeName(v.type)), v.reportId, v.usagePage, v.usage,
                             v.bitOffset, v.bitSize, v.count, v.logicalMin, v.logicalMax, v.physicalMin,
                             v.physicalMax, v.unit, v.unitExponent, v.stringIndex, v.isButton ? " btn" : "",
                             qPrintable(flagText(v.flags)));
}

QString reportsText(const HidReportLayout &layout)
{
    QStringList parts;
    for (const HidReport &r : layout.reports)
        parts << QStringLiteral("%1#%2:%3/%4").arg(hidReportTypeName(r.type)).arg(r.id).arg(r.sizeBits).arg(r.sizeBytes);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class TestReportDescriptor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void variables_data();
    void variables();
    void variableCount_data();
    void variableCount();
    void reports_data();
    void reports();
    void rejects_data();
    void rejects();
    void everyTruncationFailsCleanly();
    void indexesAreConsistent();
};

void TestReportDescriptor::variables_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");

    // Usage page and 1-, 2- and 4-byte usages
    QTest::newRow("short usage takes the usage page")
        << bytes("05 01 09 30 75 08 95 01 81 02") << 0 << "Input#0 0001:0030 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("2-byte usage takes the usage page")
        << bytes("05 0c 0a 38 02 75 08 95 01 81 06") << 0 << "Input#0 000c:0238 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 [Rel]";
    QTest::newRow("4-byte usage carries its own page")
        << bytes("05 01 0b 38 02 0c 00 75 08 95 01 81 02") << 0
        << "Input#0 000c:0238 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("usage page after the usages applies to them")
        << bytes("05 09 09 30 05 01 75 08 95 01 81 02") << 0 << "Input#0 0001:0030 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("usage page change between usages keeps the earlier page")
        << bytes("05 09 09 01 05 01 09 30 75 08 95 02 81 02") << 0
        << "Input#0 0009:0001 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("no usage at all gives usage 0 on the current page")
        << bytes("06 00 ff 75 08 95 02 91 02") << 1 << "Output#0 ff00:0000 @8/8 x1 L0..0 P0..0 U0x0 E0 S0 []";

    // Usage ranges and repetition of the last usage
    QTest::newRow("usage range, third field")
        << bytes("05 09 19 01 29 03 15 00 25 01 75 01 95 03 81 02") << 2
        << "Input#0 0009:0003 @2/1 x1 L0..1 P0..0 U0x0 E0 S0 btn []";
    QTest::newRow("usage maximum before minimum")
        << bytes("05 09 29 03 19 01 15 00 25 01 75 01 95 03 81 02") << 1
        << "Input#0 0009:0002 @1/1 x1 L0..1 P0..0 U0x0 E0 S0 btn []";
    QTest::newRow("4-byte usage range carries its page")
        << bytes("1b 05 00 09 00 2b 07 00 09 00 75 01 95 03 81 02") << 2
        << "Input#0 0009:0007 @2/1 x1 L0..0 P0..0 U0x0 E0 S0 btn []";
    QTest::newRow("more fields than usages repeat the last")
        << bytes("05 01 09 30 09 31 75 08 95 03 81 02") << 2 << "Input#0 0001:0031 @16/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("short range repeats its maximum")
        << bytes("05 09 19 01 29 03 75 01 95 05 81 02") << 4 << "Input#0 0009:0003 @4/1 x1 L0..0 P0..0 U0x0 E0 S0 btn []";
    QTest::newRow("range then single usage, past the end")
        << bytes("05 09 19 01 29 02 09 07 75 01 95 05 81 02") << 4
        << "Input#0 0009:0007 @4/1 x1 L0..0 P0..0 U0x0 E0 S0 btn []";
    QTest::newRow("lone usage minimum names one usage")
        << bytes("05 09 19 04 75 01 95 02 81 02") << 1 << "Input#0 0009:0004 @1/1 x1 L0..0 P0..0 U0x0 E0 S0 btn []";
    QTest::newRow("only the first usage of a delimiter set")
        << bytes("05 01 a9 01 09 30 09 31 a9 00 09 38 75 08 95 02 81 02") << 1
        << "Input#0 0001:0038 @8/8 x1 L0..0 P0..0 U0x0 E0 S0 []";

    // Offsets: padding, long items, local state cleared by main items
    QTest::newRow("constant padding advances the offset")
        << bytes("05 09 19 01 29 03 75 01 95 03 81 02 75 05 95 01 81 03 05 01 09 30 75 08 81 02") << 3
        << "Input#0 0001:0030 @8/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("report size 0 padding adds nothing")
        << bytes("09 30 75 04 95 01 81 02 75 00 81 03 09 31 75 04 81 02") << 1
        << "Input#0 0000:0031 @4/4 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("long item is skipped")
        << bytes("fe 03 10 aa bb cc 05 01 09 30 75 08 95 01 81 02") << 0
        << "Input#0 0001:0030 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("usages end with their main item")
        << bytes("05 01 09 30 75 08 95 01 81 02 a1 00 81 02 c0") << 1
        << "Input#0 0001:0000 @8/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("constant item with a usage is a variable")
        << bytes("05 84 09 fe 75 08 95 01 b1 23") << 0 << "Feature#0 0084:00fe @0/8 x1 L0..0 P0..0 U0x0 E0 S0 [Cnst,NoPref]";

    // Arrays and buttons
    QTest::newRow("array is one variable counting its fields")
        << bytes("05 07 19 00 29 a4 15 00 26 a4 00 75 08 95 06 81 00") << 0
        << "Input#0 0007:0000 @0/8 x6 L0..164 P0..0 U0x0 E0 S0 btn [Arr]";

    // Signedness of minimum and maximum
    QTest::newRow("negative minimum sign-extends maximum")
        << bytes("09 38 15 81 25 7f 75 08 95 01 81 06") << 0 << "Input#0 0000:0038 @0/8 x1 L-127..127 P0..0 U0x0 E0 S0 [Rel]";
    QTest::newRow("1-byte maximum 0xff after minimum 0 is 255")
        << bytes("09 30 15 00 25 ff 75 08 95 01 81 02") << 0 << "Input#0 0000:0030 @0/8 x1 L0..255 P0..0 U0x0 E0 S0 []";
    QTest::newRow("1-byte maximum 0xff after minimum -128 is -1")
        << bytes("09 30 15 80 25 ff 75 08 95 01 81 02") << 0 << "Input#0 0000:0030 @0/8 x1 L-128..-1 P0..0 U0x0 E0 S0 []";
    QTest::newRow("maximum before minimum still follows the minimum")
        << bytes("09 30 25 ff 15 80 75 08 95 01 81 02") << 0 << "Input#0 0000:0030 @0/8 x1 L-128..-1 P0..0 U0x0 E0 S0 []";
    QTest::newRow("physical limits follow the same rule")
        << bytes("09 70 15 81 25 7f 36 f0 d8 46 10 27 75 08 95 01 91 02") << 0
        << "Output#0 0000:0070 @0/8 x1 L-127..127 P-10000..10000 U0x0 E0 S0 []";
    QTest::newRow("physical maximum 0xff with minimum 0 is 255")
        << bytes("09 71 15 00 26 ff 00 35 00 45 ff 75 08 95 01 91 02") << 0
        << "Output#0 0000:0071 @0/8 x1 L0..255 P0..255 U0x0 E0 S0 []";

    // Units, exponent nibble, string index
    QTest::newRow("unit exponent 0x0f is -1")
        << bytes("09 30 65 11 55 0f 75 10 95 01 81 02") << 0 << "Input#0 0000:0030 @0/16 x1 L0..0 P0..0 U0x11 E-1 S0 []";
    QTest::newRow("unit exponent 0xfd is -3")
        << bytes("09 50 66 01 10 55 fd 75 10 95 01 91 02") << 0
        << "Output#0 0000:0050 @0/16 x1 L0..0 P0..0 U0x1001 E-3 S0 []";
    QTest::newRow("unit exponent 7 and 8")
        << bytes("09 30 55 07 75 08 95 01 81 02 09 31 55 08 81 02") << 1
        << "Input#0 0000:0031 @8/8 x1 L0..0 P0..0 U0x0 E-8 S0 []";
    QTest::newRow("string index")
        << bytes("09 fe 79 02 75 08 95 01 b1 02") << 0 << "Feature#0 0000:00fe @0/8 x1 L0..0 P0..0 U0x0 E0 S2 []";

    // Push/Pop and report IDs
    QTest::newRow("pop restores the pushed state")
        << bytes("05 01 75 08 95 01 a4 05 09 75 10 b4 09 30 81 02") << 0
        << "Input#0 0001:0030 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("report ID revisited appends to that report")
        << bytes("85 01 09 30 75 08 95 01 81 02 85 02 09 31 81 02 85 01 09 38 81 02") << 2
        << "Input#1 0000:0038 @8/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("offsets are per report type")
        << bytes("85 01 09 30 75 08 95 01 81 02 09 31 91 02") << 1
        << "Output#1 0000:0031 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";

    // Main item flags
    QTest::newRow("every flag bit of an output item")
        << bytes("09 01 75 08 95 01 92 fe 01") << 0
        << "Output#0 0000:0001 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 [Rel,Wrap,NLin,NoPref,Null,Vol,Buf]";
    QTest::newRow("bit 7 of an input item is not volatile")
        << bytes("09 01 75 08 95 01 81 82") << 0 << "Input#0 0000:0001 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 []";
    QTest::newRow("volatile feature")
        << bytes("09 01 75 08 95 01 b1 a2") << 0 << "Feature#0 0000:0001 @0/8 x1 L0..0 P0..0 U0x0 E0 S0 [NoPref,Vol]";
}

void TestReportDescriptor::variables()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, index);
    QFETCH(QString, expected);

    const HidParseResult result = parseReportDescriptor(descriptor);
    QVERIFY2(result.ok(), qPrintable(result.error.toString()));
    QVERIFY(index < result.layout->variables.size());
    QCOMPARE(variableText(result.layout->variables[index]), expected);
}

void TestReportDescriptor::variableCount_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("count");

    QTest::newRow("variable item gives one per field") << bytes("75 01 95 05 81 02") << 5;
    QTest::newRow("array item gives one") << bytes("75 08 95 06 81 00") << 1;
    QTest::newRow("padding gives none") << bytes("75 01 95 05 81 03") << 0;
    QTest::newRow("report count 0 gives none") << bytes("09 30 75 08 95 00 81 02") << 0;
    QTest::newRow("constant item with no report size gives none")
        << bytes("96 01 00 06 01 00 2a 90 a0 27 00 00 00 00 b3 81 3e 25 03") << 0;
    QTest::newRow("collections give none") << bytes("05 01 09 02 a1 01 a1 00 c0 c0") << 0;
}

void TestReportDescriptor::variableCount()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, count);

    const HidParseResult result = parseReportDescriptor(descriptor);
    QVERIFY2(result.ok(), qPrintable(result.error.toString()));
    QCOMPARE(result.layout->variables.size(), count);
}

void TestReportDescriptor::reports_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<bool>("usesIds");
    QTest::addColumn<QString>("expected");

    QTest::newRow("no report IDs: no ID byte")
        << bytes("09 30 75 08 95 03 81 02") << false << "Input#0:24/3";
    QTest::newRow("partial byte rounds up") << bytes("75 01 95 05 81 02") << false << "Input#0:5/1";
    QTest::newRow("padding counts in the size") << bytes("75 01 95 05 81 02 75 03 95 01 81 03") << false << "Input#0:8/1";
    QTest::newRow("report IDs add the ID byte")
        << bytes("85 05 75 08 95 02 81 02") << true << "Input#5:16/3";
    QTest::newRow("types keep separate reports under one ID")
        << bytes("85 01 75 08 95 02 81 02 91 02 75 10 95 01 b1 02") << true << "Input#1:16/3 Output#1:16/3 Feature#1:16/3";
    QTest::newRow("revisited ID grows the earlier report")
        << bytes("85 11 75 08 95 01 81 02 85 12 b1 02 85 11 81 02") << true << "Input#17:16/3 Feature#18:8/2";
    QTest::newRow("order of first appearance")
        << bytes("85 03 75 08 95 01 91 02 85 01 81 02 85 02 81 02") << true << "Output#3:8/2 Input#1:8/2 Input#2:8/2";
    QTest::newRow("a zero-bit item makes no report")
        << bytes("75 08 95 01 81 02 75 00 b1 03") << false << "Input#0:8/1";
    QTest::newRow("largest report")
        << bytes("85 01 75 08 96 ff 3f 81 02") << true << "Input#1:131064/16384";
}

void TestReportDescriptor::reports()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(bool, usesIds);
    QFETCH(QString, expected);

    const HidParseResult result = parseReportDescriptor(descriptor);
    QVERIFY2(result.ok(), qPrintable(result.error.toString()));
    QCOMPARE(result.layout->usesReportIds, usesIds);
    QCOMPARE(reportsText(*result.layout), expected);
}

void TestReportDescriptor::rejects_data()
{
    QTest::addColumn<QByteArray>("descriptor");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("message");

    // Truncation
    QTest::newRow("truncated item at the end") << bytes("05 01 09 02 a1 01 26 ff") << 6 << "truncated item";
    QTest::newRow("truncated 4-byte item") << bytes("05 01 27 ff ff") << 2 << "4 data bytes announced, 2 present";
    QTest::newRow("truncated long item data") << bytes("05 01 fe 05 00 01 02") << 2 << "truncated long item";
    QTest::newRow("long item without its header") << bytes("fe 01") << 0 << "truncated long item";

    // Collections and the global stack
    QTest::newRow("end collection without collection") << bytes("05 01 c0") << 2 << "End Collection without";
    QTest::newRow("unclosed collection") << bytes("05 01 a1 01 a1 00 c0") << 2 << "never closed";
    QTest::newRow("pop without push") << bytes("05 01 a4 b4 b4") << 4 << "Pop without a matching Push";
    QTest::newRow("push nested too deep") << QByteArray(17, '\xa4') << 16 << "Push nested deeper";

    // Ranges and sizes
    QTest::newRow("logical maximum below minimum")
        << bytes("09 30 15 05 25 02 75 08 95 01 81 02") << 10 << "Logical Maximum 2 below Logical Minimum 5";
    QTest::newRow("negative logical maximum below minimum")
        << bytes("09 30 15 ff 25 fe 75 08 95 01 81 02") << 10 << "Logical Maximum -2 below Logical Minimum -1";
    QTest::newRow("unsigned maximum below positive minimum")
        << bytes("09 30 15 7f 25 80 26 05 00 75 08 95 01 81 02") << 13 << "Logical Maximum 5 below Logical Minimum 127";
    QTest::newRow("report size 64 for data") << bytes("09 30 75 40 95 01 81 02") << 6 << "Report Size 64";
    QTest::newRow("report size 33 for a constant with usage")
        << bytes("09 30 75 21 95 01 81 03") << 6 << "Report Size 33";
    QTest::newRow("report count 100000") << bytes("75 08 97 a0 86 01 00 81 02") << 2 << "Report Count 100000";
    QTest::newRow("report longer than 16 KiB")
        << bytes("75 20 96 00 10 81 02") << 5 << "longer than 16384 bytes";
    QTest::newRow("padding larger than a report")
        << bytes("77 00 00 10 00 95 01 81 03") << 7 << "longer than 16384 bytes";
    QTest::newRow("report grown past 16 KiB by a revisit")
        << bytes("85 01 75 08 96 00 3c 81 02 85 02 81 02 85 01 95 ff 81 02 81 02 81 02 81 02 81 02")
        << 25 << "longer than 16384 bytes";
    QTest::newRow("too many variables")
        << bytes("75 01 96 00 40 81 02 81 02 81 02 81 02 81 02") << 13 << "more than 65536 variables";
    QTest::newRow("data item before any report size") << bytes("95 01 09 30 81 02") << 4 << "before any Report Size";
    QTest::newRow("data item before any report count") << bytes("75 08 09 30 81 02") << 4 << "before any Report Count";

    // Report IDs
    QTest::newRow("report ID 0") << bytes("05 01 85 00") << 2 << "Report ID 0 is reserved";
    QTest::newRow("report ID 256") << bytes("86 00 01") << 0 << "does not fit in one byte";
    QTest::newRow("report ID after unnumbered data")
        << bytes("75 08 95 01 81 02 85 01 81 02") << 6 << "after a data item without one (at offset 4)";
    QTest::newRow("pop back to no report ID")
        << bytes("75 08 95 01 a4 85 01 81 02 b4 81 02") << 10 << "without a Report ID";

    // Usages
    QTest::newRow("usage maximum below minimum") << bytes("19 05 29 01") << 2 << "Usage Maximum 0x0001 below Usage Minimum 0x0005";
    QTest::newRow("usage range across pages") << bytes("1b 01 00 09 00 2b 05 00 01 00") << 5 << "different usage pages";
    QTest::newRow("usage page above 16 bits") << bytes("07 00 00 01 00") << 0 << "does not fit in 16 bits";
    QTest::newRow("nested delimiter") << bytes("a9 01 a9 01") << 2 << "inside another Delimiter";
    QTest::newRow("delimiter closed twice") << bytes("a9 01 a9 00 a9 00") << 4 << "closed without being opened";
}

void TestReportDescriptor::rejects()
{
    QFETCH(QByteArray, descriptor);
    QFETCH(int, offset);
    QFETCH(QString, message);

    const HidParseResult result = parseReportDescriptor(descriptor);
    QVERIFY(!result.ok());
    QCOMPARE(result.error.offset, qsizetype(offset));
    QVERIFY2(result.error.message.contains(message), qPrintable(result.error.message));
    QVERIFY(result.error.toString().startsWith(QStringLiteral("offset %1 ").arg(offset)));
}

// A device can send any prefix of a good descriptor; each must end in a layout or an error that
// points inside the bytes given.
void TestReportDescriptor::everyTruncationFailsCleanly()
{
    const QByteArray mouse = bytes("05 01 09 02 a1 01 09 01 a1 00 05 09 19 01 29 10 15 00 25 01 95 10 75 01 81 02"
                                   "05 01 16 01 80 26 ff 7f 75 10 95 02 09 30 09 31 81 06 c0 c0");
    int rejected = 0;
    for (qsizetype n = 0; n < mouse.size(); ++n) {
        const HidParseResult result = parseReportDescriptor(QByteArrayView(mouse).first(n));
        if (!result.ok()) {
            ++rejected;
            QVERIFY2(result.error.offset >= 0 && result.error.offset < n, qPrintable(result.error.toString()));
        }
    }
    // Only the prefixes that end before the first Collection (0, 2 and 4 bytes) are complete.
    QCOMPARE(rejected, int(mouse.size()) - 3);
    QVERIFY(parseReportDescriptor(mouse).ok());
}

void TestReportDescriptor::indexesAreConsistent()
{
    const HidParseResult result = parseReportDescriptor(
        bytes("85 01 75 08 95 02 09 30 09 31 81 02 85 02 09 50 91 02 85 01 09 38 b1 02 85 02 75 01 95 04 81 02"));
    QVERIFY2(result.ok(), qPrintable(result.error.toString()));
    const HidReportLayout &layout = *result.layout;
    QCOMPARE(layout.variables.size(), 10);
    for (qsizetype i = 0; i < layout.variables.size(); ++i) {
        const HidVariable &v = layout.variables[i];
        QCOMPARE(v.index, int(i));
        QCOMPARE(layout.findReport(v.type, v.reportId), v.reportIndex);
        const HidReport &r = layout.reports[v.reportIndex];
        QVERIFY(v.bitOffset + v.bitSize * v.count <= r.sizeBits);
    }
    QCOMPARE(layout.findReport(HidReportType::Output, 1), -1);
    QCOMPARE(layout.findReport(HidReportType::Input, 2), 3);
}

QTEST_GUILESS_MAIN(TestReportDescriptor)
#include "tst_reportdescriptor.moc"

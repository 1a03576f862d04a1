#include "DescriptorFile.h"
#include "HidReportDescriptor.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString descriptorDir()
{
    return QStringLiteral(TESSARO_SHARED_DESCRIPTORS);
}

QStringList descriptorFiles()
{
    return QDir(descriptorDir()).entryList({QStringLiteral("*.hid.txt")}, QDir::Files, QDir::Name);
}

HidReportLayout parseFile(const QString &name)
{
    const DescriptorFile::Result file = DescriptorFile::load(descriptorDir() + QLatin1Char('/') + name);
    if (!file.ok())
        qFatal("%s", qPrintable(file.error));
    const HidParseResult parsed = parseReportDescriptor(*file.bytes);
    if (!parsed.ok())
        qFatal("%s: %s", qPrintable(name), qPrintable(parsed.error.toString()));
    return *parsed.layout;
}

HidReportType typeNamed(const QString &name)
{
    if (name == QLatin1String("Output"))
        return HidReportType::Output;
    if (name == QLatin1String("Feature"))
        return HidReportType::Feature;
    return HidReportType::Input;
}

// The independent decoder's layout as written at the end of each file. Its bit offsets count the
// report-ID byte.
struct ExpectedField
{
    int bit = 0, size = 0, count = 0;
    bool array = false, padding = false;
    quint32 firstPage = 0, firstUsage = 0, lastPage = 0, lastUsage = 0;
    qint64 lmin = 0, lmax = 0, pmin = 0, pmax = 0;
    quint32 unit = 0;
    int exponent = 0;
    QStringList flags;
    QString line;
};

struct ExpectedReport
{
    HidReportType type = HidReportType::Input;
    int id = 0;
    int bits = 0, bytes = 0;
    QList<ExpectedField> fields;
};

QList<ExpectedReport> crossCheckOf(const QString &name)
{
    QFile file(descriptorDir() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot open %s", qPrintable(name));
    static const QRegularExpression reportLine(
        QStringLiteral(R"(^# (Input|Output|Feature) report (?:ID (\d+) \(0x[0-9a-f]+\)|without ID): (\d+) bits = (\d+) bytes)"));
    static const QRegularExpression fieldLine(QStringLiteral(
        R"(^#\s+bit\s+(\d+) size\s+(\d+) x(\d+)\s+(.*?) \| logical (-?\d+)\.\.(-?\d+) physical (-?\d+)\.\.(-?\d+) unit 0x([0-9a-f]+) exp (-?\d+) \[(.*)\]$)"));
    static const QRegularExpression usageText(QStringLiteral(R"(([0-9a-f]{4}):([0-9a-f]{4}))"));

    QList<ExpectedReport> reports;
    bool inCrossCheck = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1String("# ---- cross-check")))
            inCrossCheck = true;
        if (!inCrossCheck)
            continue;
        if (const auto m = reportLine.match(line); m.hasMatch()) {
            reports.append(ExpectedReport{typeNamed(m.captured(1)), m.captured(2).toInt(), m.captured(3).toInt(),
                                          m.captured(4).toInt(), {}});
            continue;
        }
        const auto m = fieldLine.match(line);
        if (!m.hasMatch())
            continue;
        if (reports.isEmpty())
            qFatal("%s: field line before any report line", qPrintable(name));
        ExpectedField f;
        f.line = line;
        f.bit = m.captured(1).toInt();
        f.size = m.captured(2).toInt();
        f.count = m.captured(3).toInt();
        const QString usages = m.captured(4);
        f.array = usages.startsWith(QLatin1String("ARRAY"));
        QList<QRegularExpressionMatch> found;
        for (auto it = usageText.globalMatch(usages); it.hasNext();)
            found.append(it.next());
        if (found.isEmpty())
            qFatal("%s: no usage in '%s'", qPrintable(name), qPrintable(line));
        f.firstPage = found.first().captured(1).toUInt(nullptr, 16);
        f.firstUsage = found.first().captured(2).toUInt(nullptr, 16);
        f.lastPage = found.last().captured(1).toUInt(nullptr, 16);
        f.lastUsage = found.last().captured(2).toUInt(nullptr, 16);
        f.lmin = m.captured(5).toLongLong();
        f.lmax = m.captured(6).toLongLong();
        f.pmin = m.captured(7).toLongLong();
        f.pmax = m.captured(8).toLongLong();
        f.unit = m.captured(9).toUInt(nullptr, 16);
        f.exponent = m.captured(10).toInt();
        f.flags = m.captured(11).split(QLatin1Char(','));
        f.padding = f.flags.contains(QLatin1String("Cnst")) && f.firstPage == 0 && f.firstUsage == 0;
        reports.last().fields.append(f);
    }
    return reports;
}

qint64 maximumOf(qint32 min, qint32 max)
{
    return min < 0 ? qint64(max) : qint64(quint32(max));
}

QString variableText(const HidVariable &v)
{
    return QString::asprintf("%s#%d %04x:%04x @%d/%d x%d L%lld..%lld P%lld..%lld U0x%x E%d S%d%s%s%s%s",
                             qPrintable(hidReportTypeName(v.type)), v.reportId, v.usagePage, v.usage,
                             v.bitOffset, v.bitSize, v.count, qint64(v.logicalMin),
                             maximumOf(v.logicalMin, v.logicalMax), qint64(v.physicalMin),
                             maximumOf(v.physicalMin, v.physicalMax), v.unit, v.unitExponent, v.stringIndex,
                             v.isButton ? " btn" : "", v.flags.constant ? " const" : "",
                             v.flags.nullState ? " null" : "", v.flags.isVolatile ? " volatile" : "");
}

} // namespace

class TestRealDescriptors : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void crossCheck_data();
    void crossCheck();
    void handChecked_data();
    void handChecked();
    void describe_data();
    void describe();
    void decode_data();
    void decode();
    void describeFailures();
};

// The decoding and failure tests need no shared files; the rest skip without them.
#define REQUIRE_SHARED_DESCRIPTORS()                                                                         \
    do {                                                                                                     \
        if (descriptorFiles().isEmpty())                                                                     \
            QSKIP("the shared descriptor folder is not present");                                            \
    } while (false)

void TestRealDescriptors::crossCheck_data()
{
    QTest::addColumn<QString>("file");
    for (const QString &f : descriptorFiles())
        QTest::newRow(qPrintable(f)) << f;
}

void TestRealDescriptors::crossCheck()
{
    REQUIRE_SHARED_DESCRIPTORS();
    QFETCH(QString, file);
    const HidReportLayout layout = parseFile(file);
    const QList<ExpectedReport> expected = crossCheckOf(file);
    QVERIFY2(!expected.isEmpty(), "the file has no cross-check section");
    const int idBits = layout.usesReportIds ? 8 : 0;

    int nonEmptyReports = 0;
    for (const ExpectedReport &er : expected) {
        const QString where = QStringLiteral("%1 report %2").arg(hidReportTypeName(er.type)).arg(er.id);
        const int index = layout.findReport(er.type, er.id);
        if (er.bits == 0) {
            // Items that add no bits make no report here.
            QVERIFY2(index < 0 || layout.reports[index].sizeBits == 0, qPrintable(where));
            continue;
        }
        ++nonEmptyReports;
        QVERIFY2(index >= 0, qPrintable(where + QStringLiteral(" is missing")));
        QCOMPARE(layout.reports[index].sizeBits + idBits, er.bits);
        QCOMPARE(layout.reports[index].sizeBytes, er.bytes);

        QList<HidVariable> ours;
        for (const HidVariable &v : layout.variables) {
            if (v.reportIndex == index)
                ours.append(v);
        }
        const auto at = [&ours](int bit) -> const HidVariable * {
            for (const HidVariable &v : ours) {
                if (v.bitOffset == bit)
                    return &v;
            }
            return nullptr;
        };

        int expectedVariables = 0;
        for (const ExpectedField &f : er.fields) {
            const int start = f.bit - idBits;
            if (f.padding) {
                for (const HidVariable &v : ours) {
                    QVERIFY2(v.bitOffset < start || v.bitOffset >= start + f.size * f.count,
                             qPrintable(QStringLiteral("a variable inside padding: ") + f.line));
                }
                continue;
            }
            const int n = f.array ? 1 : f.count;
            expectedVariables += n;
            for (int k = 0; k < n; ++k) {
                const HidVariable *v = at(start + k * f.size);
                QVERIFY2(v, qPrintable(QStringLiteral("no variable %1 of: %2").arg(k).arg(f.line)));
                QVERIFY2(v->bitSize == f.size, qPrintable(f.line));
                QCOMPARE(v->count, f.array ? f.count : 1);
                QCOMPARE(v->flags.array, f.array);
                if (k == 0) {
                    QCOMPARE(v->usagePage, f.firstPage);
                    QCOMPARE(v->usage, f.firstUsage);
                }
                if (k == n - 1 && !f.array) {
                    QCOMPARE(v->usagePage, f.lastPage);
                    QCOMPARE(v->usage, f.lastUsage);
                }
                QCOMPARE(qint64(v->logicalMin), f.lmin);
                QCOMPARE(qint64(v->physicalMin), f.pmin);
                // The other decoder never sign-extends a Maximum; both agree whenever it is >= 0.
                if (f.lmax >= 0 && maximumOf(v->logicalMin, v->logicalMax) >= 0)
                    QCOMPARE(maximumOf(v->logicalMin, v->logicalMax), f.lmax);
                if (f.pmax >= 0 && maximumOf(v->physicalMin, v->physicalMax) >= 0)
                    QCOMPARE(maximumOf(v->physicalMin, v->physicalMax), f.pmax);
                QCOMPARE(v->unit, f.unit);
                // It prints an exponent outside the nibble's range as the raw byte.
                if (f.exponent >= -8 && f.exponent <= 7)
                    QCOMPARE(v->unitExponent, f.exponent);
                QCOMPARE(v->flags.constant, f.flags.contains(QLatin1String("Cnst")));
                QCOMPARE(v->flags.relative, f.flags.contains(QLatin1String("Rel")));
                QCOMPARE(v->flags.nullState, f.flags.contains(QLatin1String("Null")));
                QCOMPARE(v->flags.noPreferred, f.flags.contains(QLatin1String("NoPref")));
                QCOMPARE(v->flags.isVolatile, f.flags.contains(QLatin1String("Vol")));
                QCOMPARE(v->isButton, f.array || f.size == 1);
            }
        }
        QCOMPARE(ours.size(), expectedVariables);
    }
    QCOMPARE(layout.reports.size(), nonEmptyReports);
}

void TestRealDescriptors::handChecked_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("reportId");
    QTest::addColumn<uint>("page");
    QTest::addColumn<uint>("usage");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("expected");

    const int in = int(HidReportType::Input), out = int(HidReportType::Output), feat = int(HidReportType::Feature);
    QTest::newRow("g500s X") << "mouse_logitech_g500s.hid.txt" << in << 0 << 0x01u << 0x30u << 0
                             << "Input#0 0001:0030 @16/16 x1 L-32767..32767 P0..0 U0x0 E0 S0";
    QTest::newRow("g500s Y") << "mouse_logitech_g500s.hid.txt" << in << 0 << 0x01u << 0x31u << 0
                             << "Input#0 0001:0031 @32/16 x1 L-32767..32767 P0..0 U0x0 E0 S0";
    QTest::newRow("g500s button 16") << "mouse_logitech_g500s.hid.txt" << in << 0 << 0x09u << 0x10u << 0
                                     << "Input#0 0009:0010 @15/1 x1 L0..1 P0..0 U0x0 E0 S0 btn";
    QTest::newRow("g500s AC Pan") << "mouse_logitech_g500s.hid.txt" << in << 0 << 0x0cu << 0x238u << 0
                                  << "Input#0 000c:0238 @56/8 x1 L-127..127 P0..0 U0x0 E0 S0";
    QTest::newRow("xiaomi 12-bit X") << "mouse_xiaomi_dongle_report_ids.hid.txt" << in << 2 << 0x01u << 0x30u << 0
                                     << "Input#2 0001:0030 @0/12 x1 L-2047..2047 P0..0 U0x0 E0 S0";
    QTest::newRow("xiaomi 12-bit Y") << "mouse_xiaomi_dongle_report_ids.hid.txt" << in << 2 << 0x01u << 0x31u << 0
                                     << "Input#2 0001:0031 @12/12 x1 L-2047..2047 P0..0 U0x0 E0 S0";
    QTest::newRow("xiaomi consumer key") << "mouse_xiaomi_dongle_report_ids.hid.txt" << in << 3 << 0x0cu << 0x224u << 0
                                         << "Input#3 000c:0224 @7/1 x1 L0..1 P0..0 U0x0 E0 S0 btn";
    QTest::newRow("multiplier feature") << "mouse_resolution_multiplier_feature.hid.txt" << feat << 18 << 0x01u << 0x48u
                                        << 0 << "Feature#18 0001:0048 @0/2 x1 L0..1 P1..4 U0x0 E0 S0";
    QTest::newRow("wheel after the revisit")
        << "mouse_resolution_multiplier_feature.hid.txt" << in << 17 << 0x01u << 0x38u << 0
        << "Input#17 0001:0038 @24/8 x1 L-127..127 P0..0 U0x0 E0 S0";
    QTest::newRow("keyboard key array") << "keyboard_array_led_output.hid.txt" << in << 0 << 0x07u << 0x00u << 0
                                        << "Input#0 0007:0000 @16/8 x6 L0..164 P0..0 U0x0 E0 S0 btn";
    QTest::newRow("keyboard LED 5") << "keyboard_array_led_output.hid.txt" << out << 0 << 0x08u << 0x05u << 0
                                    << "Output#0 0008:0005 @4/1 x1 L0..1 P0..0 U0x0 E0 S0 btn";
    QTest::newRow("gamepad hat switch") << "gamepad_saitek_output_units.hid.txt" << in << 1 << 0x01u << 0x39u << 0
                                        << "Input#1 0001:0039 @44/4 x1 L0..7 P0..315 U0x44 E0 S0 null";
    QTest::newRow("gamepad time in ms") << "gamepad_saitek_output_units.hid.txt" << out << 11 << 0x0fu << 0x50u << 0
                                        << "Output#11 000f:0050 @16/16 x1 L0..65534 P0..65534 U0x1001 E-3 S0";
    QTest::newRow("gamepad signed magnitude")
        << "gamepad_saitek_output_units.hid.txt" << out << 14 << 0x0fu << 0x6fu << 0
        << "Output#14 000f:006f @16/8 x1 L-127..127 P-10000..10000 U0x0 E0 S0";
    QTest::newRow("touch second X of the first finger")
        << "touchscreen_win8_pushpop.hid.txt" << in << 1 << 0x01u << 0x30u << 1
        << "Input#1 0001:0030 @40/16 x1 L0..3968 P0..309 U0x11 E-1 S0";
    QTest::newRow("touch Y after Pop") << "touchscreen_win8_pushpop.hid.txt" << in << 1 << 0x01u << 0x31u << 0
                                       << "Input#1 0001:0031 @56/16 x1 L0..2240 P0..174 U0x11 E-1 S0";
    QTest::newRow("touch scan time") << "touchscreen_win8_pushpop.hid.txt" << in << 1 << 0x0du << 0x56u << 0
                                     << "Input#1 000d:0056 @880/32 x1 L0..2147483647 P0..0 U0x0 E0 S0";
    QTest::newRow("touch 256-byte feature, last byte")
        << "touchscreen_win8_pushpop.hid.txt" << feat << 68 << 0xff00u << 0xc5u << 255
        << "Feature#68 ff00:00c5 @2040/8 x1 L0..255 P0..0 U0x0 E0 S0";
    QTest::newRow("ups string index") << "ups_power_device_arduino.hid.txt" << feat << 1 << 0x84u << 0xfeu << 0
                                      << "Feature#1 0084:00fe @0/8 x1 L0..255 P0..0 U0x0 E0 S2 const";
    QTest::newRow("ups volts") << "ups_power_device_arduino.hid.txt" << feat << 10 << 0x84u << 0x40u << 0
                               << "Feature#10 0084:0040 @0/16 x1 L0..65535 P0..0 U0xf0d121 E5 S0 const";
    QTest::newRow("ups signed 16-bit") << "ups_power_device_arduino.hid.txt" << feat << 18 << 0x84u << 0x57u << 0
                                       << "Feature#18 0084:0057 @0/16 x1 L-32768..32767 P0..0 U0x1001 E0 S0 volatile";
    QTest::newRow("ups input bit 7 is not volatile")
        << "ups_power_device_arduino.hid.txt" << in << 7 << 0x85u << 0x44u << 0
        << "Input#7 0085:0044 @0/1 x1 L0..1 P0..0 U0x0 E0 S0 btn const";
    QTest::newRow("ups same usage in the feature report")
        << "ups_power_device_arduino.hid.txt" << feat << 7 << 0x85u << 0x44u << 0
        << "Feature#7 0085:0044 @0/1 x1 L0..1 P0..0 U0x0 E0 S0 btn const volatile";
    QTest::newRow("cvtouch vendor output") << "touchscreen_cvtouch_vendor_input_output.hid.txt" << out << 251 << 0xff00u
                                           << 0x3fu << 0 << "Output#251 ff00:003f @496/8 x1 L0..255 P-127..127 U0x0 E0 S0";
}

void TestRealDescriptors::handChecked()
{
    REQUIRE_SHARED_DESCRIPTORS();
    QFETCH(QString, file);
    QFETCH(int, type);
    QFETCH(int, reportId);
    QFETCH(uint, page);
    QFETCH(uint, usage);
    QFETCH(int, occurrence);
    QFETCH(QString, expected);

    const HidReportLayout layout = parseFile(file);
    int seen = 0;
    for (const HidVariable &v : layout.variables) {
        if (int(v.type) == type && v.reportId == reportId && v.usagePage == page && v.usage == usage) {
            if (seen++ == occurrence) {
                QCOMPARE(variableText(v), expected);
                return;
            }
        }
    }
    QFAIL(qPrintable(QStringLiteral("found %1 such variables").arg(seen)));
}

void TestRealDescriptors::describe_data()
{
    crossCheck_data();
}

// The path "tessaro-cli describe" takes, checked against the parser it reports on.
void TestRealDescriptors::describe()
{
    REQUIRE_SHARED_DESCRIPTORS();
    QFETCH(QString, file);
    QBuffer output;
    QVERIFY(output.open(QIODevice::WriteOnly));
    const DescriptorFile::Description d = DescriptorFile::describe(descriptorDir() + QLatin1Char('/') + file, output);
    QCOMPARE(d.exitStatus, 0);
    QVERIFY(d.error.isEmpty());
    QJsonParseError jsonError;
    const QJsonObject json = QJsonDocument::fromJson(output.data(), &jsonError).object();
    QCOMPARE(jsonError.error, QJsonParseError::NoError);

    const HidReportLayout layout = parseFile(file);
    const QJsonArray reports = json.value(QLatin1String("reports")).toArray();
    const QJsonArray variables = json.value(QLatin1String("variables")).toArray();
    QCOMPARE(reports.size(), layout.reports.size());
    QCOMPARE(variables.size(), layout.variables.size());
    for (qsizetype i = 0; i < reports.size(); ++i) {
        const QJsonObject r = reports[i].toObject();
        QCOMPARE(r.value(QLatin1String("type")).toString(), hidReportTypeName(layout.reports[i].type));
        QCOMPARE(r.value(QLatin1String("id")).toInt(), layout.reports[i].id);
        QCOMPARE(r.value(QLatin1String("size_bits")).toInt(), layout.reports[i].sizeBits);
        QCOMPARE(r.value(QLatin1String("size_bytes")).toInt(), layout.reports[i].sizeBytes);
    }
    for (qsizetype i = 0; i < variables.size(); ++i) {
        const QJsonObject o = variables[i].toObject();
        const HidVariable &v = layout.variables[i];
        QCOMPARE(o.value(QLatin1String("index")).toInt(), int(i));
        QCOMPARE(o.value(QLatin1String("report_id")).toInt(), v.reportId);
        QCOMPARE(o.value(QLatin1String("usage_page")).toInteger(), qint64(v.usagePage));
        QCOMPARE(o.value(QLatin1String("usage")).toInteger(), qint64(v.usage));
        QCOMPARE(o.value(QLatin1String("bit_offset")).toInt(), v.bitOffset);
        QCOMPARE(o.value(QLatin1String("bit_size")).toInt(), v.bitSize);
        QCOMPARE(o.value(QLatin1String("count")).toInt(), v.count);
        QCOMPARE(o.value(QLatin1String("logical_max")).toInteger(), maximumOf(v.logicalMin, v.logicalMax));
        QCOMPARE(o.value(QLatin1String("unit_exponent")).toInt(), v.unitExponent);
        QCOMPARE(o.value(QLatin1String("is_button")).toBool(), v.isButton);
        const QJsonObject flags = o.value(QLatin1String("flags")).toObject();
        QCOMPARE(flags.size(), 9);
        QCOMPARE(flags.value(QLatin1String("array")).toBool(), v.flags.array);
        QCOMPARE(flags.value(QLatin1String("constant")).toBool(), v.flags.constant);
        QCOMPARE(flags.value(QLatin1String("volatile")).toBool(), v.flags.isVolatile);
    }
}

void TestRealDescriptors::decode_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QByteArray>("bytes"); // hex; empty when an error is expected
    QTest::addColumn<QString>("error");

    QTest::newRow("hid-recorder") << QByteArray("# mouse\n# 0x05, 0x01\nR: 4 05 01 09 02\nN: name\nI: 3 1 2\n")
                                  << QByteArray("05010902") << QString();
    QTest::newRow("hid-recorder, CR LF") << QByteArray("R: 2 05 01\r\n") << QByteArray("0501") << QString();
    QTest::newRow("hex with blanks") << QByteArray("05 01 09 02\n a1 01 c0\n") << QByteArray("05010902a101c0") << QString();
    QTest::newRow("hex with 0x and commas") << QByteArray("0x05, 0x01,0x09,0X02\n") << QByteArray("05010902") << QString();
    QTest::newRow("C listing with comments")
        << QByteArray("0x05, 0x01, // Usage Page (Generic Desktop)\n# note\n0xc0 // End\n") << QByteArray("0501c0")
        << QString();
    QTest::newRow("single-digit bytes") << QByteArray("5 1 9 2") << QByteArray("05010902") << QString();
    QTest::newRow("binary stays binary") << QByteArray::fromHex("05010902a101c0") << QByteArray("05010902a101c0")
                                         << QString();
    QTest::newRow("printable but not hex is taken as bytes") << QByteArray("hello") << QByteArray("68656c6c6f") << QString();
    QTest::newRow("three-digit token is named with its line") << QByteArray("05 010") << QByteArray()
                                                              << "line 1: '010' is not a hex byte";
    QTest::newRow("typo in hex text is named with its line")
        << QByteArray("05 01\n# comment\n09 zz a1\n") << QByteArray() << "line 3: 'zz' is not a hex byte";
    QTest::newRow("non-ASCII comments in a recorder dump")
        << QByteArray("# 0x65, 0x13, // Unit (in\xc2\xb3)\n# Unit Exponent \xc2\xb0\nR: 2 05 01\n") << QByteArray("0501")
        << QString();
    QTest::newRow("non-ASCII comments in hex text")
        << QByteArray("0x65, 0x13, // Unit (in\xc2\xb3)\n# \xc2\xb0 degrees\n0xc0\n") << QByteArray("6513c0") << QString();
    QTest::newRow("UTF-8 byte-order mark") << QByteArray("\xef\xbb\xbf" "05 01\n") << QByteArray("0501") << QString();
    QTest::newRow("non-ASCII outside comments is a bad token")
        << QByteArray("05 01 \xc2\xb0\n") << QByteArray() << "line 1: '\u00b0' is not a hex byte";
    QTest::newRow("invalid UTF-8 is binary") << QByteArray("05 01 \xff\n") << QByteArray("303520303120ff0a")
                                             << QString();
    QTest::newRow("R: length disagrees") << QByteArray("R: 3 05 01\n") << QByteArray() << "announces 3 bytes but holds 2";
    QTest::newRow("R: bad byte") << QByteArray("# x\nR: 2 05 zz\n") << QByteArray() << "line 2: 'zz' is not a hex byte";
    QTest::newRow("R: no length") << QByteArray("R:\n") << QByteArray() << "does not start with the descriptor length";
    QTest::newRow("R: no bytes") << QByteArray("R:0  \n") << QByteArray() << "line 1: the R: line holds no descriptor bytes";
    QTest::newRow("empty file") << QByteArray() << QByteArray() << "empty";
    QTest::newRow("comments only") << QByteArray("# nothing here\n\n") << QByteArray() << "no descriptor bytes";
}

void TestRealDescriptors::decode()
{
    QFETCH(QByteArray, contents);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);

    const DescriptorFile::Result r = DescriptorFile::decode(contents);
    if (error.isEmpty()) {
        QVERIFY2(r.ok(), qPrintable(r.error));
        QCOMPARE(r.bytes->toHex(), bytes);
    } else {
        QVERIFY(!r.ok());
        QVERIFY2(r.error.contains(error), qPrintable(r.error));
    }
}

void TestRealDescriptors::describeFailures()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QBuffer output;
    QVERIFY(output.open(QIODevice::WriteOnly));
    const auto describe = [&output](const QString &path) { return DescriptorFile::describe(path, output); };

    const DescriptorFile::Description missing = describe(dir.filePath(QStringLiteral("absent")));
    QCOMPARE(missing.exitStatus, 1);
    QVERIFY(missing.error.contains(QLatin1String("absent")));

    const DescriptorFile::Description directory = describe(dir.path());
    QCOMPARE(directory.exitStatus, 1);

    QFile big(dir.filePath(QStringLiteral("big")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    big.write(QByteArray(2 * 1024 * 1024, '\x05'));
    big.close();
    QCOMPARE(describe(big.fileName()).exitStatus, 1);

    QFile bad(dir.filePath(QStringLiteral("bad.txt")));
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("R: 5 05 01 a1 01 b4\n");
    bad.close();
    const DescriptorFile::Description malformed = describe(bad.fileName());
    QCOMPARE(malformed.exitStatus, 2);
    QVERIFY2(malformed.error.contains(QLatin1String("offset 4")), qPrintable(malformed.error));
    QVERIFY(!malformed.error.contains(QLatin1Char('\n')));
    QVERIFY(output.data().isEmpty()); // nothing is written for a failure
}

QTEST_GUILESS_MAIN(TestRealDescriptors)
#include "tst_realdescriptors.moc"

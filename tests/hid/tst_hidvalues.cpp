#include "HidValues.h"

#include <QTest>

#include <limits>

namespace {

HidVariable ranged(qint32 lmin, qint32 lmax, qint32 pmin, qint32 pmax)
{
    HidVariable v;
    v.logicalMin = lmin;
    v.logicalMax = lmax;
    v.physicalMin = pmin;
    v.physicalMax = pmax;
    return v;
}

} // namespace

class TestHidValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getRaw_data();
    void getRaw();
    void setRaw_data();
    void setRaw();
    void setRawRefusesFieldsOutsideTheBuffer_data();
    void setRawRefusesFieldsOutsideTheBuffer();
    void roundTripEveryOffsetAndSize();
    void toScaled_data();
    void toScaled();
    void fromScaled_data();
    void fromScaled();
    void scaledRoundTrip();
};

void TestHidValues::getRaw_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("signExtend");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("whole byte") << QByteArray::fromHex("00 7f") << 8 << 8 << false << qint64(0x7f);
    QTest::newRow("one bit in the middle") << QByteArray::fromHex("10") << 4 << 1 << false << qint64(1);
    // 12-bit X and Y packed into three bytes: X = 0x321, Y = 0x654
    QTest::newRow("12-bit field at 0") << QByteArray::fromHex("21 43 65") << 0 << 12 << false << qint64(0x321);
    QTest::newRow("12-bit field at 12") << QByteArray::fromHex("21 43 65") << 12 << 12 << false << qint64(0x654);
    QTest::newRow("12-bit negative") << QByteArray::fromHex("01 f8 ff") << 0 << 12 << true << qint64(-2047);
    QTest::newRow("16-bit little-endian") << QByteArray::fromHex("01 80") << 0 << 16 << true << qint64(-32767);
    QTest::newRow("1-bit signed") << QByteArray::fromHex("01") << 0 << 1 << true << qint64(-1);
    QTest::newRow("32 bits across five bytes")
        << QByteArray::fromHex("f0 ff ff ff 0f") << 4 << 32 << false << qint64(0xffffffff);
    QTest::newRow("32 bits signed") << QByteArray::fromHex("fe ff ff ff") << 0 << 32 << true << qint64(-2);
    QTest::newRow("bits past the end read as 0") << QByteArray::fromHex("ff") << 4 << 8 << false << qint64(0x0f);
    QTest::newRow("field wholly past the end") << QByteArray::fromHex("ff") << 16 << 8 << false << qint64(0);
    QTest::newRow("size 0") << QByteArray::fromHex("ff") << 0 << 0 << false << qint64(0);
    QTest::newRow("size 33") << QByteArray::fromHex("ff ff ff ff ff") << 0 << 33 << false << qint64(0);
    QTest::newRow("negative offset") << QByteArray::fromHex("ff") << -1 << 4 << false << qint64(0);
}

void TestHidValues::getRaw()
{
    QFETCH(QByteArray, data);
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(bool, signExtend);
    QFETCH(qint64, expected);
    QCOMPARE(HidValues::getRaw(data, offset, size, signExtend), expected);
}

void TestHidValues::setRaw_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QByteArray>("after");

    QTest::newRow("whole byte") << QByteArray::fromHex("00 00") << 8 << 8 << qint64(0xa5) << QByteArray::fromHex("00 a5");
    QTest::newRow("one bit leaves its neighbours")
        << QByteArray::fromHex("ff") << 3 << 1 << qint64(0) << QByteArray::fromHex("f7");
    QTest::newRow("12 bits at 12 keep the low nibble")
        << QByteArray::fromHex("ff ff ff") << 12 << 12 << qint64(0x654) << QByteArray::fromHex("ff 4f 65");
    QTest::newRow("12 bits at 0 keep the high nibble")
        << QByteArray::fromHex("00 f0 00") << 0 << 12 << qint64(0x321) << QByteArray::fromHex("21 f3 00");
    QTest::newRow("negative value in two's complement")
        << QByteArray::fromHex("00 00 00") << 0 << 12 << qint64(-2047) << QByteArray::fromHex("01 08 00");
    QTest::newRow("value wider than the field is cut")
        << QByteArray::fromHex("00 00") << 4 << 4 << qint64(0x1f) << QByteArray::fromHex("f0 00");
    QTest::newRow("32 bits across five bytes")
        << QByteArray::fromHex("0f 00 00 00 f0") << 4 << 32 << qint64(0x12345678)
        << QByteArray::fromHex("8f 67 45 23 f1");
    QTest::newRow("last bit of the buffer") << QByteArray::fromHex("00 00") << 15 << 1 << qint64(1) << QByteArray::fromHex("00 80");
}

void TestHidValues::setRaw()
{
    QFETCH(QByteArray, before);
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(qint64, value);
    QFETCH(QByteArray, after);

    QByteArray data = before;
    QVERIFY(HidValues::setRaw(data, offset, size, value));
    QCOMPARE(data.toHex(' '), after.toHex(' '));
}

void TestHidValues::setRawRefusesFieldsOutsideTheBuffer_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");

    QTest::newRow("one bit past the end") << 9 << 8;
    QTest::newRow("starts after the end") << 16 << 1;
    QTest::newRow("negative offset") << -1 << 4;
    QTest::newRow("size 0") << 0 << 0;
    QTest::newRow("size 33") << 0 << 33;
    QTest::newRow("offset near int max") << 2147483647 << 8;
}

void TestHidValues::setRawRefusesFieldsOutsideTheBuffer()
{
    QFETCH(int, offset);
    QFETCH(int, size);

    QByteArray data = QByteArray::fromHex("5a a5");
    QVERIFY(!HidValues::setRaw(data, offset, size, -1));
    QCOMPARE(data, QByteArray::fromHex("5a a5"));
}

void TestHidValues::roundTripEveryOffsetAndSize()
{
    // A patterned buffer shows any write that spills outside its field.
    const QByteArray pattern = QByteArray::fromHex("a5 5a c3 3c 96 69");
    for (int size = 1; size <= 32; ++size) {
        const qint64 top = (qint64(1) << size) - 1;
        const qint64 values[] = {0, 1, top, top >> 1, (top >> 1) + 1, 0x5555555555 & top};
        for (int offset = 0; offset + size <= 48 - 8; ++offset) {
            for (qint64 value : values) {
                QByteArray data = pattern;
                QVERIFY(HidValues::setRaw(data, offset, size, value));
                QCOMPARE(HidValues::getRaw(data, offset, size, false), value);
                const qint64 signedValue = value > (top >> 1) ? value - top - 1 : value;
                QCOMPARE(HidValues::getRaw(data, offset, size, true), signedValue);
                for (int bit = 0; bit < 48; ++bit) {
                    if (bit >= offset && bit < offset + size)
                        continue;
                    if (HidValues::getRaw(data, bit, 1, false) != HidValues::getRaw(pattern, bit, 1, false))
                        QFAIL(qPrintable(QStringLiteral("bit %1 changed writing %2 bits at %3").arg(bit).arg(size).arg(offset)));
                }
            }
        }
    }
}

void TestHidValues::toScaled_data()
{
    QTest::addColumn<HidVariable>("variable");
    QTest::addColumn<qint32>("raw");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("no physical limits: the logical value") << ranged(-127, 127, 0, 0) << -5 << true << -5;
    QTest::newRow("no physical limits: out of range") << ranged(0, 100, 0, 0) << 101 << false << 0;
    QTest::newRow("resolution multiplier 0 -> 1") << ranged(0, 1, 1, 4) << 0 << true << 1;
    QTest::newRow("resolution multiplier 1 -> 4") << ranged(0, 1, 1, 4) << 1 << true << 4;
    QTest::newRow("resolution multiplier raw 2 is out of range") << ranged(0, 1, 1, 4) << 2 << false << 0;
    QTest::newRow("angle rounds half up: 128 -> 180.7") << ranged(0, 255, 0, 360) << 128 << true << 181;
    QTest::newRow("angle rounds down: 1 -> 1.41") << ranged(0, 255, 0, 360) << 1 << true << 1;
    QTest::newRow("exact half rounds up: 1 of 0..2 -> 0.5") << ranged(0, 2, 0, 1) << 1 << true << 1;
    QTest::newRow("signed both sides") << ranged(-127, 127, -10000, 10000) << -127 << true << -10000;
    QTest::newRow("signed both sides, middle") << ranged(-127, 127, -10000, 10000) << 0 << true << 0;
    QTest::newRow("hat switch null value") << ranged(0, 7, 0, 315) << 8 << false << 0;
    QTest::newRow("hat switch 7 -> 315") << ranged(0, 7, 0, 315) << 7 << true << 315;
    QTest::newRow("unsigned 32-bit logical maximum") << ranged(0, qint32(0xffffffff), 0, 100) << -1 << true << 100;
    QTest::newRow("full 32-bit spans do not overflow")
        << ranged(0, qint32(0xffffffff), std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max())
        << qint32(0x80000000) << true << 0;
    QTest::newRow("scaled value above 32 bits") << ranged(0, 1, 0, qint32(0xffffffff)) << 1 << false << 0;
    QTest::newRow("empty logical range") << ranged(5, 5, 0, 10) << 5 << false << 0;
    QTest::newRow("reversed physical range") << ranged(0, 10, 10, 5) << 5 << false << 0;
    QTest::newRow("reversed signed physical range") << ranged(0, 10, -5, -10) << 5 << false << 0;
}

void TestHidValues::toScaled()
{
    QFETCH(HidVariable, variable);
    QFETCH(qint32, raw);
    QFETCH(bool, ok);
    QFETCH(qint32, expected);

    const HidValues::Result r = HidValues::toScaled(variable, raw);
    QCOMPARE(r.ok, ok);
    QCOMPARE(r.value, expected);
    QCOMPARE(r.error.isEmpty(), ok);
}

void TestHidValues::fromScaled_data()
{
    QTest::addColumn<HidVariable>("variable");
    QTest::addColumn<qint32>("scaled");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<qint32>("expected");

    QTest::newRow("no physical limits: the value") << ranged(-127, 127, 0, 0) << -7 << true << -7;
    QTest::newRow("no physical limits: out of range") << ranged(-127, 127, 0, 0) << 128 << false << 0;
    QTest::newRow("resolution multiplier 4 -> 1") << ranged(0, 1, 1, 4) << 4 << true << 1;
    QTest::newRow("resolution multiplier 2 -> 0") << ranged(0, 1, 1, 4) << 2 << true << 0;
    QTest::newRow("resolution multiplier 3 -> 1") << ranged(0, 1, 1, 4) << 3 << true << 1;
    QTest::newRow("resolution multiplier 0 is out of range") << ranged(0, 1, 1, 4) << 0 << false << 0;
    QTest::newRow("angle 180 -> 128") << ranged(0, 255, 0, 360) << 180 << true << 128;
    QTest::newRow("signed -5000 -> -63.5 rounds to -63") << ranged(-127, 127, -10000, 10000) << -5000 << true << -63;
    QTest::newRow("unsigned 32-bit logical range")
        << ranged(0, qint32(0xffffffff), 0, 100) << 100 << true << qint32(0xffffffff);
    QTest::newRow("single physical value") << ranged(0, 10, 3, 3) << 3 << false << 0;
    QTest::newRow("empty logical range") << ranged(1, 1, 0, 10) << 5 << false << 0;
    QTest::newRow("reversed physical range") << ranged(0, 10, 10, 5) << 7 << false << 0;
}

void TestHidValues::fromScaled()
{
    QFETCH(HidVariable, variable);
    QFETCH(qint32, scaled);
    QFETCH(bool, ok);
    QFETCH(qint32, expected);

    const HidValues::Result r = HidValues::fromScaled(variable, scaled);
    QCOMPARE(r.ok, ok);
    QCOMPARE(r.value, expected);
    QCOMPARE(r.error.isEmpty(), ok);
}

void TestHidValues::scaledRoundTrip()
{
    // Where the physical range is at least as fine as the logical one, raw -> scaled -> raw is exact.
    const HidVariable variables[] = {ranged(0, 255, 0, 360), ranged(-127, 127, -10000, 10000),
                                     ranged(0, 1, 1, 4), ranged(120, 1380, 0, 5000), ranged(-5, 5, -5, 5)};
    for (const HidVariable &v : variables) {
        for (qint32 raw = v.logicalMin; raw <= v.logicalMax; ++raw) {
            const HidValues::Result scaled = HidValues::toScaled(v, raw);
            QVERIFY(scaled.ok);
            const HidValues::Result back = HidValues::fromScaled(v, scaled.value);
            QVERIFY(back.ok);
            QCOMPARE(back.value, raw);
        }
    }
}

QTEST_GUILESS_MAIN(TestHidValues)
#include "tst_hidvalues.moc"

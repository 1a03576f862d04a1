#include "HidValues.h"

#include <limits>

namespace HidValues {

namespace {

bool validField(int bitOffset, int bitSize)
{
    return bitOffset >= 0 && bitSize >= 1 && bitSize <= 32;
}

struct Range
{
    qint64 min = 0;
    qint64 max = 0;
};

// Same reading as the parser: a Maximum is signed only next to a negative Minimum, so a field of
// 0..0xFFFFFFFF keeps its meaning even though HidVariable stores it in a qint32.
Range rangeOf(qint32 min, qint32 max)
{
    return Range{min, min < 0 ? qint64(max) : qint64(quint32(max))};
}

qint64 rawOf(const Range &logical, qint32 raw)
{
    return logical.min >= 0 ? qint64(quint32(raw)) : qint64(raw);
}

Result failure(QString message)
{
    return Result{false, 0, std::move(message)};
}

QString rangeText(const char *what, const Range &r)
{
    return QStringLiteral("%1 range %2..%3").arg(QLatin1String(what)).arg(r.min).arg(r.max);
}

// Maps v from [fromMin, fromMax] onto [toMin, toMax], rounding half up. The caller guarantees
// fromMin < fromMax, toMin <= toMax and v inside its range, so everything stays unsigned and within
// 64 bits: both spans are below 2^32.
qint64 mapLinear(qint64 v, const Range &from, const Range &to)
{
    const quint64 numerator = quint64(v - from.min) * quint64(to.max - to.min);
    const quint64 denominator = quint64(from.max - from.min);
    quint64 quotient = numerator / denominator;
    if (2 * (numerator % denominator) >= denominator)
        ++quotient;
    return to.min + qint64(quotient);
}

} // namespace

qint64 getRaw(QByteArrayView data, int bitOffset, int bitSize, bool signExtend)
{
    if (!validField(bitOffset, bitSize))
        return 0;
    // HID fields are little-endian with bit 0 of byte 0 first (HID 1.11, 5.8 and 8.4), so the bytes
    // covering the field can be gathered into one integer and shifted.
    const qsizetype firstByte = bitOffset / 8;
    const int shift = bitOffset % 8;
    const int byteCount = (shift + bitSize + 7) / 8; // at most 5
    quint64 gathered = 0;
    for (int i = 0; i < byteCount; ++i) {
        const qsizetype at = firstByte + i;
        if (at < data.size())
            gathered |= quint64(quint8(data[at])) << (8 * i);
    }
    const quint64 value = (gathered >> shift) & ((quint64(1) << bitSize) - 1);
    if (signExtend && (value >> (bitSize - 1)) & 1)
        return qint64(value) - (qint64(1) << bitSize);
    return qint64(value);
}

bool setRaw(QByteArray &data, int bitOffset, int bitSize, qint64 value)
{
    if (!validField(bitOffset, bitSize) || qint64(bitOffset) + bitSize > qint64(data.size()) * 8)
        return false;
    quint64 bits = quint64(value) & ((quint64(1) << bitSize) - 1);
    int at = bitOffset;
    int left = bitSize;
    while (left > 0) {
        const int shift = at % 8;
        const int take = qMin(8 - shift, left);
        const quint8 mask = quint8(((1u << take) - 1) << shift);
        char &byte = data[at / 8];
        byte = char((quint8(byte) & ~mask) | ((quint8(bits) << shift) & mask));
        bits >>= take;
        at += take;
        left -= take;
    }
    return true;
}

Result toScaled(const HidVariable &v, qint32 raw)
{
    const Range logical = rangeOf(v.logicalMin, v.logicalMax);
    const qint64 value = rawOf(logical, raw);
    if (v.physicalMin == 0 && v.physicalMax == 0) {
        // No physical extent given: the value is already in its units.
        if (value < logical.min || value > logical.max)
            return failure(QStringLiteral("raw value %1 outside the %2").arg(value).arg(rangeText("logical", logical)));
        return Result{true, raw, QString()};
    }
    const Range physical = rangeOf(v.physicalMin, v.physicalMax);
    if (logical.min >= logical.max)
        return failure(QStringLiteral("cannot scale over the %1").arg(rangeText("logical", logical)));
    if (physical.min > physical.max)
        return failure(QStringLiteral("cannot scale onto the %1").arg(rangeText("physical", physical)));
    if (value < logical.min || value > logical.max)
        return failure(QStringLiteral("raw value %1 outside the %2").arg(value).arg(rangeText("logical", logical)));
    const qint64 scaled = mapLinear(value, logical, physical);
    if (scaled > std::numeric_limits<qint32>::max())
        return failure(QStringLiteral("scaled value %1 does not fit in 32 bits").arg(scaled));
    return Result{true, qint32(scaled), QString()};
}

Result fromScaled(const HidVariable &v, qint32 scaled)
{
    const Range logical = rangeOf(v.logicalMin, v.logicalMax);
    if (v.physicalMin == 0 && v.physicalMax == 0) {
        const qint64 value = rawOf(logical, scaled);
        if (value < logical.min || value > logical.max)
            return failure(QStringLiteral("value %1 outside the %2").arg(value).arg(rangeText("logical", logical)));
        return Result{true, scaled, QString()};
    }
    const Range physical = rangeOf(v.physicalMin, v.physicalMax);
    if (logical.min >= logical.max)
        return failure(QStringLiteral("cannot scale onto the %1").arg(rangeText("logical", logical)));
    // A single physical value maps back to every raw value; no one raw value can be chosen.
    if (physical.min >= physical.max)
        return failure(QStringLiteral("cannot scale over the %1").arg(rangeText("physical", physical)));
    const qint64 value = rawOf(physical, scaled);
    if (value < physical.min || value > physical.max)
        return failure(QStringLiteral("value %1 outside the %2").arg(value).arg(rangeText("physical", physical)));
    // Raw values are bit patterns: one above 0x7FFFFFFF comes back in the qint32's 32 bits.
    return Result{true, qint32(mapLinear(value, physical, logical)), QString()};
}

} // namespace HidValues

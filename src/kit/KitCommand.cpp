#include "KitCommand.h"

namespace KitCommand {

namespace {

const CodeBit *entryFor(int code)
{
    for (const CodeBit &c : codeBits) {
        if (c.code == code)
            return &c;
    }
    return nullptr;
}

// The same motor's other direction: codes c and c + 5 turn one motor.
const CodeBit &oppositeOf(const CodeBit &c)
{
    return *entryFor(c.code <= 5 ? c.code + 5 : c.code - 5);
}

// Every bit a motor uses, per byte.
constexpr std::array<quint8, TransferBytes> motorMask{0xFF, 0x03, 0x00};

} // namespace

QByteArray encode(int code, bool light, const KitReversed &reversed)
{
    if (code < 0 || code > MaxCode)
        return QByteArray();
    QByteArray bytes(TransferBytes, '\0');
    bytes[2] = char(light ? LightBit : 0);
    if (code == 0)
        return bytes;
    const CodeBit &wanted = *entryFor(code);
    const CodeBit &sent = reversed[size_t(wanted.motor)] ? oppositeOf(wanted) : wanted;
    bytes[sent.byte] = char(sent.bit);
    return bytes;
}

Decoded decode(const QByteArray &transfer, const KitReversed &reversed)
{
    Decoded result;
    if (transfer.size() != TransferBytes)
        return result;
    const auto byteAt = [&](int i) { return quint8(transfer.at(i)); };
    result.light = (byteAt(2) & LightBit) != 0;
    if ((byteAt(1) & ~motorMask[1]) != 0 || (byteAt(2) & ~LightBit) != 0)
        return result;
    int found = 0;
    int code = 0;
    for (const CodeBit &c : codeBits) {
        if ((byteAt(c.byte) & c.bit) == 0)
            continue;
        ++found;
        code = reversed[size_t(c.motor)] ? oppositeOf(c).code : c.code;
    }
    // One bit set at most: two motors, or one motor both ways, is nothing the program asks for.
    if (found > 1)
        return result;
    result.code = code;
    return result;
}

} // namespace KitCommand

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
    const ArmCodeParts parts = armCodeParts(code);
    if (code != 0 && parts.empty())
        return QByteArray();
    QByteArray bytes(TransferBytes, '\0');
    bytes[2] = char(light ? LightBit : 0);
    for (const int part : parts) {
        const CodeBit &wanted = *entryFor(part);
        const CodeBit &sent = reversed[size_t(wanted.motor)] ? oppositeOf(wanted) : wanted;
        bytes[sent.byte] = char(quint8(bytes[sent.byte]) | sent.bit);
    }
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
    std::array<int, ArmJointCount> directions{};
    for (const CodeBit &c : codeBits) {
        if ((byteAt(c.byte) & c.bit) == 0)
            continue;
        const int code = reversed[size_t(c.motor)] ? oppositeOf(c).code : c.code;
        int &direction = directions[size_t(c.motor)];
        // One motor both ways is nothing the program asks for.
        if (direction != 0)
            return result;
        direction = armCodeMotion(code)->direction;
    }
    result.code = armCombinedCode(directions);
    return result;
}

} // namespace KitCommand

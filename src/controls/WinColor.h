#pragma once

#include <QColor>
#include <QtGlobal>

// Colours travel through the settings file and the window code as 32-bit
// Windows colour values: red in the low byte, then green, then blue.

inline QColor winColorToQColor(quint32 value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

inline quint32 qColorToWinColor(const QColor &color)
{
    return quint32(color.red()) | (quint32(color.green()) << 8) | (quint32(color.blue()) << 16);
}

constexpr quint32 winRgb(int red, int green, int blue)
{
    return quint32(red & 0xFF) | (quint32(green & 0xFF) << 8) | (quint32(blue & 0xFF) << 16);
}

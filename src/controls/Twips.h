#pragma once

#include <QtMath>

// Layout sizes of the skinned controls are kept in twips; the screen has 15
// twips to the pixel.
namespace Twips {

constexpr int PerPixel = 15;

constexpr int toPixels(int twips)
{
    return twips / PerPixel;
}

inline int toPixels(double twips)
{
    return qRound(twips / PerPixel);
}

constexpr int fromPixels(int pixels)
{
    return pixels * PerPixel;
}

} // namespace Twips

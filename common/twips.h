#pragma once

// Both windows are laid out in twips, 1/1440 inch: 15 twips to a logical pixel. Qt scales
// logical pixels for high-DPI screens, so this is the only conversion there is.

#include <QRect>
#include <cmath>

inline constexpr float TwipsPerPixel = 15.0f;

inline int twipsToPixels(double twips)
{
    return int(std::lround(twips / TwipsPerPixel));
}

inline float pixelsToTwips(int pixels)
{
    return float(pixels) * TwipsPerPixel;
}

inline QRect twipsRect(double left, double top, double width, double height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// The zoom that makes a media window `width` twips wide become `target` twips wide: the
// division first, then the multiplication, in double precision, rounded once to single
// precision. A width of 0 or a result beyond single precision is a run-time error.
float fittedZoom(float target, float width);

// Window units: positions and sizes are kept in twips, 15 to a pixel at 96 dots per inch; Qt's
// own scaling takes care of other screens.
#pragma once

#include <QtGlobal>

#include <cmath>

inline constexpr int TwipsPerPixel = 15;

// Nearest whole pixel, kept within what a widget geometry can hold.
inline int twipsToPixels(double twips)
{
    const double pixels = std::nearbyint(twips / TwipsPerPixel);
    if (!(pixels > -1e6))
        return -1000000;
    if (pixels > 1e6)
        return 1000000;
    return static_cast<int>(pixels);
}

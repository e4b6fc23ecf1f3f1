// Window units: positions and sizes are kept in twips, 15 to a pixel at 96 dots per inch; Qt's
// own scaling takes care of other screens.
#pragma once

#include <QPoint>
#include <QRect>
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

// Where a window grown downwards goes so that its lower edge stays within the screen's area: up
// just enough, never above the area's top; otherwise where it is.
inline QPoint keptWithin(const QRect &window, const QRect &area)
{
    if (window.bottom() <= area.bottom())
        return window.topLeft();
    return {window.x(), qMax(area.top(), area.bottom() + 1 - window.height())};
}

// The one-pixel border the window manager does not draw for a frameless window.
#pragma once

#include <QPainter>
#include <QWidget>

inline void paintWindowBorder(QWidget *window)
{
    QPainter p(window);
    p.setPen(QColor(64, 64, 64));
    p.drawRect(window->rect().adjusted(0, 0, -1, -1));
}

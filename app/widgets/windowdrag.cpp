#include "widgets/windowdrag.h"

#include "core/units.h"

#include <QMouseEvent>

#include <cmath>

WindowDrag::WindowDrag(QWidget *window) : QObject(window), m_window(window) {}

void WindowDrag::addHandle(QWidget *handle)
{
    m_handles << handle;
    handle->installEventFilter(this);
}

void WindowDrag::addMoveSource(QWidget *source)
{
    source->installEventFilter(this);
}

void WindowDrag::press(float x, float y)
{
    m_dragging = true;
    m_dragStartX = static_cast<int>(std::nearbyint(x));
    m_dragStartY = static_cast<int>(std::nearbyint(y));
}

void WindowDrag::move(float x, float y)
{
    if (!m_dragging || !m_window)
        return;
    // The sum in extended precision, stored as single, as twips on the screen.
    const QPoint at = m_window->pos();
    const float left =
        static_cast<float>(static_cast<long double>(at.x() * TwipsPerPixel) + x - m_dragStartX);
    m_window->move(twipsToPixels(left), at.y());
    const float top = static_cast<float>(
        static_cast<long double>(m_window->pos().y() * TwipsPerPixel) + y - m_dragStartY);
    m_window->move(m_window->pos().x(), twipsToPixels(top));
}

void WindowDrag::release()
{
    m_dragging = false;
}

bool WindowDrag::eventFilter(QObject *watched, QEvent *event)
{
    const auto type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return QObject::eventFilter(watched, event);

    const auto *mouse = static_cast<QMouseEvent *>(event);
    const float x = static_cast<float>(mouse->position().x() * TwipsPerPixel);
    const float y = static_cast<float>(mouse->position().y() * TwipsPerPixel);
    const bool handle = m_handles.contains(watched);
    if (type == QEvent::MouseMove) {
        move(x, y);
    } else if (!handle) {
        return QObject::eventFilter(watched, event);
    } else if (type == QEvent::MouseButtonPress) {
        press(x, y);
    } else {
        release();
    }
    // Consumed: an ignored mouse event would travel on to the parent handle or the window with
    // other coordinates and move the window a second time.
    event->accept();
    return true;
}

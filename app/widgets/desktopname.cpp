#include "widgets/desktopname.h"

#include <QEvent>
#include <QWidget>
#include <QWindow>

DesktopName::DesktopName(QWidget *window, QString name)
    : QObject(window), m_window(window), m_name(std::move(name))
{
    window->installEventFilter(this);
}

void DesktopName::apply()
{
    if (QWindow *handle = m_window->windowHandle()) {
        const QString title = m_window->windowTitle().isEmpty() ? m_name : m_window->windowTitle();
        if (handle->title() != title)
            handle->setTitle(title);
    }
}

bool DesktopName::eventFilter(QObject *watched, QEvent *event)
{
    // Qt sets the platform title when the window is made and whenever the caption changes; the
    // name follows right after.
    if (watched == m_window &&
        (event->type() == QEvent::Show || event->type() == QEvent::WindowTitleChange ||
         event->type() == QEvent::WinIdChange))
        apply();
    return false;
}

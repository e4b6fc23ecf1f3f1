#include "shell/framekeeper.h"

#include "shell/mainwindow.h"

#include <QTimer>

FrameKeeper::FrameKeeper(MainWindow &window) : m_window(window), m_timer(new QTimer(&window))
{
    m_timer->setObjectName(QStringLiteral("checkUP"));
    m_timer->setInterval(100);
    connect(m_timer, &QTimer::timeout, this, &FrameKeeper::keep);
    m_timer->start();
}

void FrameKeeper::setEnabled(bool enabled)
{
    if (enabled)
        m_timer->start();
    else
        m_timer->stop();
}

void FrameKeeper::expand()
{
    m_expanded = true;
    m_window.expand();
}

void FrameKeeper::keep()
{
    m_window.keepFrame(m_expanded);
}

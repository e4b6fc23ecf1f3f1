#include "shell/hostfields.h"

#include "shell/mainwindow.h"
#include "shell/startuptimeline.h"
#include "sysinfo/systemprobe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

HostFields::HostFields(MainWindow &window, SystemProbe &probe)
    : m_window(window), m_probe(probe), m_timer(new QTimer(&window))
{
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(2000);
    connect(m_timer, &QTimer::timeout, this, &HostFields::measureClock);
}

void HostFields::load()
{
    m_timer->start();
    QCoreApplication::processEvents();
    m_window.showHost(m_probe.startUp(SystemProbe::Clock::Later));
    m_window.installEventFilter(this);
}

bool HostFields::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &m_window && event->type() == QEvent::Paint) {
        m_window.removeEventFilter(this);
        // Once this paint is done.
        QTimer::singleShot(0, this, [this] {
            measureClock();
            startupMark("clock measured and shown");
        });
    }
    return false;
}

void HostFields::measureClock()
{
    m_window.setHostText(ProbeField::ClockSpeed, m_probe.refreshSpeed());
}

void HostFields::setRefreshEnabled(bool enabled)
{
    if (enabled)
        m_timer->start();
    else
        m_timer->stop();
}

#include "shell/hostfields.h"

#include "shell/mainwindow.h"
#include "sysinfo/systemprobe.h"

#include <QCoreApplication>
#include <QTimer>

HostFields::HostFields(MainWindow &window, SystemProbe &probe)
    : m_window(window), m_probe(probe), m_timer(new QTimer(&window))
{
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(2000);
    connect(m_timer, &QTimer::timeout, this,
            [this] { m_window.setHostText(ProbeField::ClockSpeed, m_probe.refreshSpeed()); });
}

void HostFields::load()
{
    m_timer->start();
    QCoreApplication::processEvents();
    m_window.showHost(m_probe.startUp());
}

void HostFields::setRefreshEnabled(bool enabled)
{
    if (enabled)
        m_timer->start();
    else
        m_timer->stop();
}

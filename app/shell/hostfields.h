// The main window's System Information frame: filled from the system probe when the program
// starts, and its clock speed measured again every two seconds while no run is going.
#pragma once

#include <QObject>

class MainWindow;
class QTimer;
class SystemProbe;

class HostFields : public QObject
{
    Q_OBJECT

public:
    HostFields(MainWindow &window, SystemProbe &probe);

    // Starts the refresh, lets the window show itself, then asks the probe. The clock, which
    // takes a few milliseconds to measure, is measured right after the window's first paint,
    // and its field filled then.
    void load();
    void setRefreshEnabled(bool enabled);
    QTimer *timer() const { return m_timer; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void measureClock();

    MainWindow &m_window;
    SystemProbe &m_probe;
    QTimer *m_timer;
};

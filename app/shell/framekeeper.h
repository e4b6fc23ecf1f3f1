// The frame keeper: every 100 ms while enabled, puts the main window back to its collapsed or,
// once a run has grown it, its expanded size, and clears a caption someone set. A run turns it
// off while it goes and on again at its end.
#pragma once

#include <QObject>

class MainWindow;
class QTimer;

class FrameKeeper : public QObject
{
    Q_OBJECT

public:
    explicit FrameKeeper(MainWindow &window);

    void setEnabled(bool enabled);
    // Grows the window for good.
    void expand();
    bool isExpanded() const { return m_expanded; }
    void keep();
    QTimer *timer() const { return m_timer; }

private:
    MainWindow &m_window;
    QTimer *m_timer;
    bool m_expanded = false;
};

// form1, the program's main window: a fixed-size window without a title bar that draws its own
// chrome (a logo strip to drag it by, a minimise and a close glyph) and shows the host's system
// information, the result fields of a benchmark run and the comparison chart.
//
// The window is the benchmark run's view: the run reaches the fields, the timers, the burn-in
// and the submission windows only through the BenchmarkView calls implemented here. The frame
// keeper (checkUP, every 100 ms) holds the window at its collapsed or, once a run has started,
// its expanded size.
#pragma once

#include "benchmarkrun.h"
#include "benchmarkview.h"
#include "comparisonchart.h"

#include <QWidget>

#include <QTime>

#include <functional>
#include <memory>

namespace Ui {
class MainWindow;
}
class AppWindows;
class SystemProbe;
class QTimer;
class WindowDrag;

class MainWindow : public QWidget, public BenchmarkView
{
    Q_OBJECT

public:
    static constexpr int WidthTwips = 9690;
    static constexpr int CollapsedHeightTwips = 2220;
    static constexpr int ExpandedHeightTwips = 8700;

    MainWindow(AppWindows &windows, KernelSet &kernels, SystemProbe &probe,
               QWidget *parent = nullptr);
    ~MainWindow() override;

    BenchmarkRun &run() { return m_run; }
    ComparisonChart &chart() { return m_chart; }
    bool windowExpanded() const { return m_windowExpanded; }
    WindowDrag &drag() { return *m_drag; }
    QTimer *checkUP() const { return m_checkUP; }
    QTimer *Timer1() const { return m_timer1; }

    // The hidden Load / Save frame's two operations.
    void saveResult();
    void loadResult();
    const QString &loadedTitle() const { return m_loadedTitle; }
    const QString &loadedWidth() const { return m_loadedWidth; }

    // What the run log takes as the time of day; the real clock unless set.
    void setClock(std::function<QTime()> clock) { m_clock = std::move(clock); }

    void keepFrame();
    void minimise();
    void centreOnScreen();

    // What a taskbar shows for the window while its caption is empty.
    static QString taskbarName() { return QStringLiteral("CPU Orvane"); }

    // BenchmarkView
    QString benchmarkCaption() const override;
    void setBenchmarkCaption(const QString &caption) override;
    void setBenchmarkEnabled(bool enabled) override;
    void setStatus(const QString &caption) override;
    QString text(Field field) const override;
    void setText(Field field, const QString &text) override;
    void setSpeedTimerEnabled(bool enabled) override;
    void setFrameKeeperEnabled(bool enabled) override;
    void expandWindow() override;
    void setOwnBarWidth(float twips) override;
    void showOwnResult() override;
    void setSubmitEnabled(bool enabled) override;
    QString cycleCountText() override;
    QString logText() override;
    void setLogText(const QString &text) override;
    void setSubmissionScore(const QString &score) override;
    void letEventsRun() override;
    bool isClosed() const override { return m_closed; }
    QString currentTimeText() const override;
    void showInvalidCount() override;
    void showLibraryFailure(const QString &message) override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void load();
    void nameTaskbarEntry();
    void setBelowCollapsedEdgeShown(bool shown);
    void setReferenceEntryVisible(int entry, bool visible);

    std::unique_ptr<Ui::MainWindow> ui;
    AppWindows &m_windows;
    SystemProbe &m_probe;
    BenchmarkRun m_run;
    ComparisonChart m_chart;
    WindowDrag *m_drag = nullptr;
    QTimer *m_checkUP = nullptr;
    QTimer *m_timer1 = nullptr;
    QString m_loadedTitle;
    QString m_loadedWidth;
    QList<QWidget *> m_belowCollapsedEdge;
    std::function<QTime()> m_clock = [] {
        return QTime::currentTime();
    };
    bool m_windowExpanded = false;
    bool m_closed = false;
};

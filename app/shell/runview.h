// The benchmark run's view over the program's windows: the main window's fields and buttons,
// the frame keeper and the clock refresh, the burn-in window's count and log, and the submission
// window's score. The burn-in and submission windows are reached through the functions given,
// which create them hidden when they do not exist yet.
#pragma once

#include "benchmark/benchmarkview.h"

#include <QTime>

#include <functional>

class BurnInWindow;
class FrameKeeper;
class HostFields;
class MainWindow;
class SubmitWindow;

class RunView final : public BenchmarkView
{
public:
    // showBurnIn shows the burn-in window, as its button on the main window does.
    RunView(MainWindow &main, FrameKeeper &frame, HostFields &host,
            std::function<BurnInWindow *()> burnIn, std::function<void()> showBurnIn,
            std::function<SubmitWindow *()> submit);

    // What the run log takes as the time of day; the real clock unless set.
    void setClock(std::function<QTime()> clock) { m_clock = std::move(clock); }

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
    bool isClosed() const override;
    QString currentTimeText() const override;
    void showInvalidCount() override;
    void showLibraryFailure(const QString &message) override;

private:
    MainWindow &m_main;
    FrameKeeper &m_frame;
    HostFields &m_host;
    std::function<BurnInWindow *()> m_burnIn;
    std::function<void()> m_showBurnIn;
    std::function<SubmitWindow *()> m_submit;
    std::function<QTime()> m_clock = [] {
        return QTime::currentTime();
    };
};

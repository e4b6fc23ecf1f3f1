// What the benchmark run needs of the windows around it.
//
// The run touches the main window, the burn-in window and the submission window only through
// these calls, so it can be driven by a fake in tests and by the real windows in the program.
#pragma once

#include <QString>

#include <array>
#include <utility>

// The result fields the run writes and reads back: each kernel's time, the three results it
// shows, and the totals of a cycle (the overall total becomes the score at the end of a run).
enum class Field
{
    AdditionSeconds,
    SubtractionSeconds,
    MultiplicationSeconds,
    DivisionSeconds,
    PrimeSeconds,
    PrimeResult,
    PiSeconds,
    PiResult,
    PowerSeconds,
    PowerResult,
    SimpleTotal,
    OverallTotal,
    ComplexTotal
};
inline constexpr int FieldCount = 13;

class BenchmarkView
{
public:
    virtual ~BenchmarkView() = default;

    // The main window's Benchmark button, which reads "Abort" during a run.
    virtual QString benchmarkCaption() const = 0;
    virtual void setBenchmarkCaption(const QString &caption) = 0;
    virtual void setBenchmarkEnabled(bool enabled) = 0;

    virtual void setStatus(const QString &caption) = 0;
    virtual QString text(Field field) const = 0;
    virtual void setText(Field field, const QString &text) = 0;

    // The clock-speed refresh and the frame keeper.
    virtual void setSpeedTimerEnabled(bool enabled) = 0;
    virtual void setFrameKeeperEnabled(bool enabled) = 0;

    // Grows the main window to its expanded height for good, keeping it on the screen, and
    // clears its caption.
    virtual void expandWindow() = 0;

    // The own bar of the comparison chart, in twips, and its first showing after a complete run.
    virtual void setOwnBarWidth(float twips) = 0;
    virtual void showOwnResult() = 0;
    virtual void setSubmitEnabled(bool enabled) = 0;

    // The burn-in window's cycle count and log; reaching them creates the window, hidden, if it
    // does not exist yet.
    virtual QString cycleCountText() = 0;
    virtual QString logText() = 0;
    virtual void setLogText(const QString &text) = 0;

    // The submission window's score field, creating that window hidden if needed.
    virtual void setSubmissionScore(const QString &score) = 0;

    // Lets every queued window event run; click handlers run nested inside this call.
    virtual void letEventsRun() = 0;
    // True once the main window has been closed: the run must not touch any window again.
    virtual bool isClosed() const = 0;

    virtual QString currentTimeText() const = 0;
    virtual void showInvalidCount() = 0;
    virtual void showLibraryFailure(const QString &message) = 0;
};

// A view with no windows: it keeps the Benchmark caption, the fields and the cycle count the run
// reads back, and lets everything else pass. Programs and tests without a screen start from it.
class HeadlessView : public BenchmarkView
{
public:
    explicit HeadlessView(QString count = QStringLiteral("1")) : m_count(std::move(count)) {}

    QString benchmarkCaption() const override { return m_caption; }
    void setBenchmarkCaption(const QString &caption) override { m_caption = caption; }
    void setBenchmarkEnabled(bool) override {}
    void setStatus(const QString &) override {}
    QString text(Field field) const override { return m_fields[static_cast<int>(field)]; }
    void setText(Field field, const QString &text) override
    {
        m_fields[static_cast<int>(field)] = text;
    }
    void setSpeedTimerEnabled(bool) override {}
    void setFrameKeeperEnabled(bool) override {}
    void expandWindow() override {}
    void setOwnBarWidth(float) override {}
    void showOwnResult() override {}
    void setSubmitEnabled(bool) override {}
    QString cycleCountText() override { return m_count; }
    QString logText() override { return {}; }
    void setLogText(const QString &) override {}
    void setSubmissionScore(const QString &) override {}
    void letEventsRun() override {}
    bool isClosed() const override { return false; }
    QString currentTimeText() const override { return {}; }
    void showInvalidCount() override {}
    void showLibraryFailure(const QString &) override {}

private:
    QString m_count;
    QString m_caption = QStringLiteral("Benchmark");
    std::array<QString, FieldCount> m_fields;
};

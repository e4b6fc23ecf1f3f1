// A view that records what the run does to the windows, and kernels with chosen times.
#pragma once

#include "benchmark/benchmarkview.h"
#include "benchmark/kernelset.h"

#include <QMap>
#include <QString>
#include <QVector>

#include <algorithm>

#include <functional>

class FakeView : public BenchmarkView
{
public:
    QString caption = QStringLiteral("Benchmark");
    bool benchmarkEnabled = true;
    QString status = QStringLiteral("\u00BB Stable and Awaiting Action");
    QMap<Field, QString> fields;
    bool speedTimer = true;
    bool frameKeeper = true;
    int expansions = 0;
    float ownBarWidth = 15.0f;
    bool ownResultShown = false;
    bool submitEnabled = false;
    QString count = QStringLiteral("1");
    QString log = QStringLiteral("Burn-In Ready...");
    QString submissionScore;
    bool closed = false;
    int touchedAfterClose = 0;
    int invalidCountMessages = 0;
    QStringList libraryFailures;
    QString time = QStringLiteral("12:00:00");
    int eventPoints = 0;
    // Runs at every point where the run lets window events run: where a test clicks.
    std::function<void()> onEvents;

    QString benchmarkCaption() const override { return caption; }
    void setBenchmarkCaption(const QString &c) override
    {
        touch();
        caption = c;
    }
    void setBenchmarkEnabled(bool e) override
    {
        touch();
        benchmarkEnabled = e;
    }
    void setStatus(const QString &s) override
    {
        touch();
        status = s;
    }
    QString text(Field f) const override { return fields.value(f); }
    void setText(Field f, const QString &t) override
    {
        touch();
        fields[f] = t;
    }
    void setSpeedTimerEnabled(bool e) override
    {
        touch();
        speedTimer = e;
    }
    void setFrameKeeperEnabled(bool e) override
    {
        touch();
        frameKeeper = e;
    }
    void expandWindow() override
    {
        touch();
        ++expansions;
    }
    void setOwnBarWidth(float w) override
    {
        touch();
        ownBarWidth = w;
    }
    void showOwnResult() override
    {
        touch();
        ownResultShown = true;
    }
    void setSubmitEnabled(bool e) override
    {
        touch();
        submitEnabled = e;
    }
    QString cycleCountText() override { return count; }
    QString logText() override { return log; }
    void setLogText(const QString &t) override
    {
        touch();
        log = t;
    }
    void setSubmissionScore(const QString &s) override
    {
        touch();
        submissionScore = s;
    }
    void letEventsRun() override
    {
        ++eventPoints;
        if (onEvents)
            onEvents();
    }
    bool isClosed() const override { return closed; }
    QString currentTimeText() const override { return time; }
    void showInvalidCount() override { ++invalidCountMessages; }
    void showLibraryFailure(const QString &m) override { libraryFailures << m; }

private:
    void touch()
    {
        if (closed)
            ++touchedAfterClose;
    }
};

class FakeKernels : public KernelSet
{
public:
    // Seconds for the n-th call (counting from 0) of a kernel; results are fixed stand-ins.
    std::function<double(Kernel, int call)> seconds = [](Kernel, int) {
        return 0.25;
    };
    QVector<Kernel> calls;
    // The value a kernel hands back; stand-ins unless a test needs the real ones.
    std::function<double(Kernel)> result = [](Kernel kernel) {
        return 100.0 + static_cast<int>(kernel);
    };
    QString failure; // when set, every call fails with this reason
    // Runs inside each call, as if during the kernel's loop: where a test queues a click.
    std::function<void(Kernel, int call)> onRun;

    bool run(Kernel kernel, double *result, double *secs, QString *error) override
    {
        if (!failure.isEmpty()) {
            *error = failure;
            return false;
        }
        const int n = static_cast<int>(std::count(calls.begin(), calls.end(), kernel));
        calls << kernel;
        if (onRun)
            onRun(kernel, static_cast<int>(calls.size()));
        *secs = seconds(kernel, n);
        *result = this->result(kernel);
        return true;
    }
};

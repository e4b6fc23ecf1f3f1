// The benchmark run: the handler behind the main window's Benchmark / Abort button.
//
// One call of click() either asks a run in progress to stop or performs a whole run: it calls the
// seven kernels cycle by cycle, writes every time into its field, forms the totals from the texts
// in those fields, keeps the burn-in log and, after the last cycle, sets the score. Between tests
// it lets window events run, which is where nested clicks (Abort, Go!, other buttons) are handled;
// an abort request is noticed before the next test starts.
#pragma once

#include "benchmark/benchmarkview.h"
#include "benchmark/kernelset.h"
#include "core/currency.h"

#include <QString>

// The totals of a cycle as the window shows them.
struct CycleTotals
{
    double cycle = 0;
    QString simple;
    QString complex;
    QString overall;
};

// What a program that follows a run without windows is told as it goes.
class RunObserver
{
public:
    virtual ~RunObserver() = default;
    // A cycle has completed: all seven kernels ran and its totals are in place.
    virtual void cycleCompleted(const CycleTotals &totals) = 0;
};

class BenchmarkRun
{
public:
    BenchmarkRun(BenchmarkView &view, KernelSet &kernels);

    void click();
    // Asks a run in progress to stop before its next test, as the Abort button does, without
    // letting events run or touching the fields.
    void stop() { m_abortRequested = true; }
    void setObserver(RunObserver *observer) { m_observer = observer; }

    bool isRunning() const { return m_running; }
    bool abortRequested() const { return m_abortRequested; }
    Currency simpleTotal() const { return m_simpleTotal; }
    Currency cycleTotal() const { return m_cycleTotal; }
    Currency averageScore() const { return m_averageScore; }
    const QString &averageText() const { return m_averageText; }
    const QString &cycleText() const { return m_cycleText; }
    const QString &barWidthText() const { return m_barWidthText; }

private:
    enum class Outcome
    {
        Done,
        Aborted,
        Closed
    };

    void requestAbort();
    void start();
    Outcome runCycle(double cycle);
    Outcome runTest(int test, double cycle);
    void finishSummary(double cyclesRun);
    void endRun();
    bool eventsRun();
    void appendLog(const QString &line);
    double fieldNumber(Field field) const;

    BenchmarkView &m_view;
    KernelSet &m_kernels;
    RunObserver *m_observer = nullptr;

    bool m_running = false;
    bool m_abortRequested = false;
    Currency m_simpleTotal;
    Currency m_cycleTotal;
    Currency m_averageScore;
    QString m_averageText;
    QString m_cycleText;
    QString m_barWidthText;
};

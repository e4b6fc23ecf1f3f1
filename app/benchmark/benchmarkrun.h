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

class BenchmarkRun
{
public:
    BenchmarkRun(BenchmarkView &view, KernelSet &kernels);

    void click();

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
    void finishSummary(const QString &countTextAtStart, double countAtStart);
    void endRun();
    bool eventsRun();
    void appendLog(const QString &line);
    double fieldNumber(Field field) const;

    BenchmarkView &m_view;
    KernelSet &m_kernels;

    bool m_running = false;
    bool m_abortRequested = false;
    Currency m_simpleTotal;
    Currency m_cycleTotal;
    Currency m_averageScore;
    QString m_averageText;
    QString m_cycleText;
    QString m_barWidthText;
};

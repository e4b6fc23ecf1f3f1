// The program's four windows, their lifetimes, and what connects their buttons to the logic.
//
// The main window lives as long as the program. The burn-in and submission windows are created
// on first use (by their buttons, or hidden by a run that needs them), hidden by their Close
// buttons, and destroyed only when the close glyph closes everything. The About window is
// created for each opening and goes when it closes.
//
// The set owns the windows and the pieces of logic behind them: the benchmark run with its view
// over the windows, the comparison chart, the results file's controller, the frame keeper and
// the System Information fields. The windows only say which button was pressed.
#pragma once

#include "benchmark/benchmarkrun.h"
#include "benchmark/comparisonchart.h"
#include "results/resultscontroller.h"
#include "shell/aboutwindow.h"
#include "shell/framekeeper.h"
#include "shell/hostfields.h"
#include "shell/mainwindow.h"
#include "shell/runview.h"

#include <QObject>
#include <QPointer>

#include <memory>

class BurnInWindow;
class KernelSet;
class SubmitWindow;
class SystemProbe;

class AppWindows : public QObject
{
    Q_OBJECT

public:
    AppWindows(KernelSet &kernels, SystemProbe &probe);
    ~AppWindows() override;

    MainWindow *mainWindow() const { return m_main.get(); }
    // Shows the main window, centred on the screen.
    void start();

    BenchmarkRun &run() { return m_run; }
    RunView &runView() { return m_runView; }
    ComparisonChart &chart() { return m_chart; }
    ResultsController &results() { return m_results; }
    FrameKeeper &frameKeeper() { return m_frame; }
    HostFields &hostFields() { return m_host; }

    BurnInWindow *burnIn();
    BurnInWindow *existingBurnIn() const;
    void showBurnIn();

    void showAbout();
    AboutWindow *about() const { return m_about; }

    SubmitWindow *submit();
    SubmitWindow *existingSubmit() const;
    void showSubmit();

    // Closes the main, burn-in, About and submission windows in this order; the program ends
    // when no window is left.
    void closeAll();

private:
    std::unique_ptr<MainWindow> m_main;
    FrameKeeper m_frame;
    HostFields m_host;
    QPointer<BurnInWindow> m_burnIn;
    QPointer<AboutWindow> m_about;
    QPointer<SubmitWindow> m_submit;
    RunView m_runView;
    BenchmarkRun m_run;
    ComparisonChart m_chart;
    ResultsController m_results;
    bool m_closing = false;
};

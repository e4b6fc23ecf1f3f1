#include "shell/appwindows.h"

#include "benchmark/burninwindow.h"
#include "shell/startuptimeline.h"
#include "submit/submitwindow.h"

#include <QCoreApplication>
#include <QScreen>

AppWindows::AppWindows(KernelSet &kernels, SystemProbe &probe)
    : m_main(std::make_unique<MainWindow>()), m_frame(*m_main), m_host(*m_main, probe),
      m_runView(
          *m_main, m_frame, m_host, [this] { return burnIn(); }, [this] { showBurnIn(); },
          [this] { return submit(); }),
      m_run(m_runView, kernels), m_chart([this](int entry, bool visible) {
          m_main->setReferenceEntryVisible(entry, visible);
      }),
      m_results(*m_main, [this] { return m_run.barWidthText(); })
{
    m_main->setObjectName(QStringLiteral("form1"));
    MainWindow *main = m_main.get();
    connect(main, &MainWindow::benchmarkClicked, this, [this] { m_run.click(); });
    connect(main, &MainWindow::burnInClicked, this, &AppWindows::showBurnIn);
    connect(main, &MainWindow::aboutClicked, this, &AppWindows::showAbout);
    connect(main, &MainWindow::submitClicked, this, &AppWindows::showSubmit);
    connect(main, &MainWindow::nextComparisonClicked, this, [this] { m_chart.next(); });
    connect(main, &MainWindow::loadClicked, this, [this] { m_results.load(); });
    connect(main, &MainWindow::saveClicked, this, [this] { m_results.save(); });
    connect(main, &MainWindow::closeRequested, this, &AppWindows::closeAll);

    startupMark("main window built");
    m_host.load();
    startupMark("system probe read (the clock is measured after the first paint)");
    m_chart.reset();
}

AppWindows::~AppWindows()
{
    delete m_burnIn.data();
    delete m_submit.data();
}

void AppWindows::start()
{
    m_main->centreOnScreen();
    m_main->show();
}

BurnInWindow *AppWindows::burnIn()
{
    if (!m_burnIn) {
        // Go! presses the main window's Benchmark button and waits for its handler.
        m_burnIn = new BurnInWindow([this] {
            if (m_main && !m_main->isClosed())
                m_main->pressBenchmark();
        });
        m_burnIn->setObjectName(QStringLiteral("Form2"));
        m_burnIn->setAttribute(Qt::WA_QuitOnClose, false);
    }
    return m_burnIn;
}

BurnInWindow *AppWindows::existingBurnIn() const
{
    return m_burnIn;
}

void AppWindows::showBurnIn()
{
    BurnInWindow *window = burnIn();
    const bool first = !window->testAttribute(Qt::WA_WState_ExplicitShowHide);
    if (first && m_main && m_main->screen())
        window->move(m_main->screen()->availableGeometry().center() - window->rect().center());
    window->show();
    window->raise();
    window->activateWindow();
}

void AppWindows::showAbout()
{
    AboutWindow about(m_main.get());
    m_about = &about;
    about.exec();
}

SubmitWindow *AppWindows::submit()
{
    if (!m_submit) {
        m_submit =
            new SubmitWindow(m_main.get(), [this] { return m_main->text(Field::OverallTotal); });
    }
    return m_submit;
}

SubmitWindow *AppWindows::existingSubmit() const
{
    return m_submit;
}

void AppWindows::showSubmit()
{
    submit()->showModal();
}

void AppWindows::closeAll()
{
    if (m_closing)
        return;
    m_closing = true;
    m_frame.setEnabled(false);
    m_host.setRefreshEnabled(false);
    m_main->close();
    if (BurnInWindow *window = m_burnIn) {
        m_burnIn = nullptr;
        window->hide();
        // Deferred: Go!'s handler may still be on the stack below the run that saw this close.
        window->deleteLater();
    }
    if (m_about)
        m_about->reject();
    if (SubmitWindow *window = m_submit) {
        m_submit = nullptr;
        window->client().controlsDestroyed();
        window->hide();
        window->deleteLater();
    }
    m_closing = false;
    // A hidden burn-in window closes without a close event, so the last-window rule of the
    // toolkit cannot be relied on here: with every window gone, end the program.
    QCoreApplication::quit();
}

#include "appwindows.h"

#include "aboutwindow.h"
#include "burninwindow.h"
#include "mainwindow.h"

#include <QCoreApplication>
#include <QPushButton>
#include <QScreen>

AppWindows::AppWindows(KernelSet &kernels, SystemProbe &probe)
    : m_main(std::make_unique<MainWindow>(*this, kernels, probe))
{
    m_main->setObjectName(QStringLiteral("form1"));
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
                m_main->findChild<QPushButton *>(QStringLiteral("Command1"))->click();
        });
        m_burnIn->setObjectName(QStringLiteral("Form2"));
        m_burnIn->setAttribute(Qt::WA_QuitOnClose, false);
    }
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
            new SubmitWindow(m_main.get(), [this] { return m_main->text(Field::txtTotal2); });
    }
    return m_submit;
}

void AppWindows::showSubmit()
{
    submit()->showModal();
}

void AppWindows::setSubmissionScore(const QString &score)
{
    submit()->setScore(score);
}

void AppWindows::closeAll()
{
    if (m_closing)
        return;
    m_closing = true;
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

#include "shell/runview.h"

#include "benchmark/burninwindow.h"
#include "core/timetext.h"
#include "shell/framekeeper.h"
#include "shell/hostfields.h"
#include "shell/mainwindow.h"
#include "submit/submitwindow.h"
#include "widgets/messagebox.h"

#include <QCoreApplication>

RunView::RunView(MainWindow &main, FrameKeeper &frame, HostFields &host,
                 std::function<BurnInWindow *()> burnIn, std::function<void()> showBurnIn,
                 std::function<SubmitWindow *()> submit)
    : m_main(main), m_frame(frame), m_host(host), m_burnIn(std::move(burnIn)),
      m_showBurnIn(std::move(showBurnIn)), m_submit(std::move(submit))
{}

QString RunView::benchmarkCaption() const
{
    return m_main.benchmarkCaption();
}

void RunView::setBenchmarkCaption(const QString &caption)
{
    m_main.setBenchmarkCaption(caption);
}

void RunView::setBenchmarkEnabled(bool enabled)
{
    m_main.setBenchmarkEnabled(enabled);
}

void RunView::setStatus(const QString &caption)
{
    m_main.setStatus(caption);
}

QString RunView::text(Field field) const
{
    return m_main.text(field);
}

void RunView::setText(Field field, const QString &text)
{
    m_main.setText(field, text);
}

void RunView::setSpeedTimerEnabled(bool enabled)
{
    m_host.setRefreshEnabled(enabled);
}

void RunView::setFrameKeeperEnabled(bool enabled)
{
    m_frame.setEnabled(enabled);
}

void RunView::expandWindow()
{
    m_frame.expand();
}

void RunView::setOwnBarWidth(float twips)
{
    m_main.setOwnBarWidth(twips);
}

void RunView::showOwnResult()
{
    m_main.showOwnResult();
}

void RunView::setSubmitEnabled(bool enabled)
{
    m_main.setSubmitEnabled(enabled);
}

QString RunView::cycleCountText()
{
    return m_burnIn()->cycleCountText();
}

QString RunView::logText()
{
    return m_burnIn()->logText();
}

void RunView::setLogText(const QString &text)
{
    m_burnIn()->setLogText(text);
}

void RunView::setSubmissionScore(const QString &score)
{
    m_submit()->setScore(score);
}

void RunView::letEventsRun()
{
    QCoreApplication::processEvents();
}

bool RunView::isClosed() const
{
    return m_main.isClosed();
}

QString RunView::currentTimeText() const
{
    return timeText(m_clock());
}

void RunView::showInvalidCount()
{
    // The count lives in the burn-in window, which may be hidden or never shown: show it, say
    // which value is wrong, and leave the focus in the count for a new one.
    m_showBurnIn();
    BurnInWindow *burnIn = m_burnIn();
    showMessage(burnIn, QStringLiteral("Invalid value for the burn-in cycle count: a run needs a "
                                       "number of cycles of at least 1."));
    if (!m_main.isClosed())
        burnIn->focusCount();
}

void RunView::showLibraryFailure(const QString &message)
{
    showMessage(&m_main, message, appTitle(), MessageIcon::Critical);
}

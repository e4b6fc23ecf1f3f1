// The program's four windows and their lifetimes.
//
// The main window lives as long as the program. The burn-in and submission windows are created
// on first use (by their buttons, or hidden by a run that needs them), hidden by their Close
// buttons, and destroyed only when the close glyph closes everything. The About window is
// created for each opening and goes when it closes.
#pragma once

#include "aboutwindow.h"
#include "burninwindow.h"
#include "submitwindow.h"

#include <QObject>
#include <QPointer>

#include <memory>

class KernelSet;
class SystemProbe;
class MainWindow;

class AppWindows : public QObject
{
    Q_OBJECT

public:
    AppWindows(KernelSet &kernels, SystemProbe &probe);
    ~AppWindows() override;

    MainWindow *mainWindow() const { return m_main.get(); }
    // Shows the main window, centred on the screen.
    void start();

    BurnInWindow *burnIn();
    BurnInWindow *existingBurnIn() const { return m_burnIn; }
    void showBurnIn();

    void showAbout();
    AboutWindow *about() const { return m_about; }

    SubmitWindow *submit();
    SubmitWindow *existingSubmit() const { return m_submit; }
    void showSubmit();
    void setSubmissionScore(const QString &score);

    // Closes the main, burn-in, About and submission windows in this order; the program ends
    // when no window is left.
    void closeAll();

private:
    std::unique_ptr<MainWindow> m_main;
    QPointer<BurnInWindow> m_burnIn;
    QPointer<AboutWindow> m_about;
    QPointer<SubmitWindow> m_submit;
    bool m_closing = false;
};

// The burn-in window: where the user sets the cycle count, starts a run with Go! and reads the
// run log. Every run, however started, reads its count here and writes its log here.
//
// Go! validates the count and then presses the main window's Benchmark button, so a second Go!
// during a run is an abort request. The window holds no benchmark logic of its own.
#pragma once

#include <QWidget>

#include <functional>

namespace Ui {
class BurnInWindow;
}

class BurnInWindow : public QWidget
{
    Q_OBJECT

public:
    // pressBenchmark presses the main window's Benchmark button and returns when its handler
    // has finished.
    explicit BurnInWindow(std::function<void()> pressBenchmark, QWidget *parent = nullptr);
    ~BurnInWindow() override;

    QString cycleCountText() const;
    // The log is kept exactly as set, line ends included, and shown scrolled to its end.
    QString logText() const { return m_log; }
    void setLogText(const QString &text);

    void go();
    // Puts the keyboard focus in the count, its text selected, for a new value to be typed.
    void focusCount();

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<Ui::BurnInWindow> ui;
    std::function<void()> m_pressBenchmark;
    QString m_log;
};

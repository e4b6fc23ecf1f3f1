// submit: the window that sends the score with a nickname to the score server and shows the
// server's reply. It has no title bar; the logo bar at its top is the handle to drag it by.
//
// The window is created on first use and only hidden by Close, keeping its fields and a running
// idle timer. A failed send destroys its controls; the next use builds them anew in their first
// state and loads the score again, while the window object (and its idle count) lives on.
#pragma once

#include "submit/submissionclient.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class SubmitControls;
}
class WindowDrag;

class SubmitWindow : public QWidget, public SubmitView
{
    Q_OBJECT

public:
    // mainScore gives the main window's total (txtTotal2) for the load step.
    SubmitWindow(QWidget *owner, std::function<QString()> mainScore, int tickInterval = 1000,
                 int connectWait = 5000, int reconnectPort = ScoreProtocol::ReconnectPort);
    ~SubmitWindow() override;

    // Builds the controls when they do not exist (first use, or after a failed send).
    void ensureLoaded();
    void showModal();
    void setScore(const QString &score);
    SubmissionClient &client() { return m_client; }
    QWidget *controls() const { return m_controls; }

    // SubmitView
    QString nickname() const override;
    void setNickname(const QString &text) override;
    void focusNickname() override;
    QString serverAddress() const override;
    QString serverPort() const override;
    QString score() const override;
    void setReply(const QString &text) override;
    void setProcessEnabled(bool enabled) override;
    void showMessage(const QString &text, const QString &title, MessageIcon icon) override;
    void letEventsRun() override;
    void destroyControls() override;
    void hideWindow() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::function<QString()> m_mainScore;
    SubmissionClient m_client;
    QPointer<QWidget> m_controls;
    std::unique_ptr<Ui::SubmitControls> ui;
    WindowDrag *m_drag = nullptr;
    bool m_shownBefore = false;
};

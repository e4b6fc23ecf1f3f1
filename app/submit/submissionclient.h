// The score submission: checks the nickname, connects to the score server, sends the score and
// the nickname, shows whatever the server answers, reconnects once after a socket error and
// closes a connection left idle.
//
// What goes on the wire is core/scoreprotocol.h's submission.
#pragma once

#include "core/messages.h"
#include "core/scoreprotocol.h"
#include "submit/scoresocket.h"

#include <QObject>
#include <QTimer>

class SubmitView
{
public:
    virtual ~SubmitView() = default;
    virtual QString nickname() const = 0;
    virtual void setNickname(const QString &text) = 0;
    virtual void focusNickname() = 0;
    virtual QString serverAddress() const = 0;
    virtual QString serverPort() const = 0;
    virtual QString score() const = 0;
    // The server's reply, shown as it stands.
    virtual void setReply(const QString &text) = 0;
    // The Process Results button.
    virtual void setProcessEnabled(bool enabled) = 0;
    virtual void showMessage(const QString &text, const QString &title, MessageIcon icon) = 0;
    virtual void letEventsRun() = 0;
    // The send-failure path: the window's controls go and are rebuilt at its next use.
    virtual void destroyControls() = 0;
    virtual void hideWindow() = 0;
};

// Whether the nickname is one of those no one may submit with, in any case of letters.
bool isReservedNickname(const QString &nickname);

// Where the server field points: a host name or address, optionally with a port
// ("scores.lan:1400", "[::1]:1400"; a bare IPv6 address takes no port). Blanks around it are
// dropped. Without a port, the given default port holds; a port that is no number from 1 to
// 65535 gives 0, to which no connection can be made.
struct ServerAddress
{
    QString host;
    int port = 0;
};
ServerAddress parseServerAddress(const QString &text, const QString &defaultPort);

class SubmissionClient : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype ReplyLimit = 64 * 1024;

    // tickInterval is the idle timer's period; connectWait bounds the wait for the connection
    // before the first send.
    explicit SubmissionClient(SubmitView &view, int tickInterval = 1000, int connectWait = 5000,
                              int reconnectPort = ScoreProtocol::ReconnectPort);

    void processResults();
    void close();
    void idleTick();
    // The window's controls are gone: the timer and the socket go with them.
    void controlsDestroyed();

    ScoreSocket &socket() { return m_socket; }
    QTimer &idleTimer() { return m_idleTimer; }
    int idleTicks() const { return m_idleTicks; }

private:
    void dataArrived();
    void socketError();
    bool waitForConnection();
    void hangUp();

    SubmitView &m_view;
    ScoreSocket m_socket;
    QTimer m_idleTimer;
    QTimer m_replyTimer;
    QTimer m_reconnectWait;
    QString m_reply;
    int m_connectWait;
    int m_reconnectPort;
    int m_idleTicks = 0;
    int m_errorsSinceConnect = 0;
    bool m_reconnected = false;
    bool m_reconnectDue = false; // a reconnection waits for the event loop
    bool m_submitting = false;   // Process Results is on its way
    bool m_cancelled = false;    // the window closed while it was
};

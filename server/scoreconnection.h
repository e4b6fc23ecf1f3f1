// One client's connection to the score server: its bytes, its timers, and the single answer it
// gets. The connection reads and judges what arrives; what it needs of the server that holds it
// (a place to give back, a store for an accepted score, a log) is the ConnectionHost below.
#pragma once

#include "scoredatabase.h"
#include "servermetrics.h"

#include <QBasicTimer>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>

class QTcpSocket;
class ScoreConnection;

struct ServerLimits
{
    int quietMs = 100;      // silence that ends a complete submission
    int idleMs = 15000;     // silence that ends any connection
    int lifetimeMs = 60000; // the longest a connection may take, however it trickles
    qsizetype maxBytes = 512;
    int maxClients = 256; // connections read at a time
    int maxPerPeer = 32;  // places one peer (an IPv4 address, an IPv6 /64) may hold at a time
    int maxWaiting = 128; // accepted connections waiting for a place
    int waitMs = 10000;   // the longest a connection waits for a place
    int holdMs = 1000;    // while others wait, a connection that has held its place this long
                          // without completing a submission gives it up
};

class ConnectionHost
{
public:
    virtual ~ConnectionHost() = default;
    // The connection no longer holds its place: it has been answered, or its peer left.
    virtual void released(ScoreConnection *connection) = 0;
    // Its socket is closed: it holds nothing of the server any more.
    virtual void closed(ScoreConnection *connection) = 0;
    // An accepted submission, to be stored; the host answers the connection once it is.
    virtual void queue(ScoreConnection *connection, ScoreEntry entry) = 0;
    // One line per accepted or rejected submission.
    virtual void log(const QString &peer, const QString &score, const QString &nickname,
                     const QString &outcome) = 0;
    // A submission refused for this reason (the log line says it in words).
    virtual void rejected(RejectReason reason) = 0;
};

class ScoreConnection : public QObject
{
    // So that finding the server's connections among its children finds only them.
    Q_OBJECT

public:
    // Takes the socket over; key is what the host counts the peer's places by.
    ScoreConnection(ConnectionHost &host, const ServerLimits &limits, QTcpSocket *socket,
                    QString key, quint64 seat, QObject *parent);
    ~ScoreConnection() override;

    const QString &peer() const { return m_peer; }
    const QString &key() const { return m_key; }
    // How long it has held its place.
    qint64 age() const { return m_age.elapsed(); }
    // The order in which connections took their places: the lower, the longer held.
    quint64 seat() const { return m_seat; }

    // Still being read after holding its place for holdMs: a client that means to submit sends
    // its whole submission at once, and is answered a moment later.
    bool heldWithoutCompleting(int holdMs) const;
    // Whether the bytes so far begin a submission: a score and the separator after it.
    bool begun() const;
    // Closes it with a reason, to make room for connections that wait.
    void evict(int holdMs);
    // Answered and waiting for its peer to close: closes it at once.
    void cutLinger();
    // Answers it with a rejection for this reason, whatever it sent.
    void refuse(RejectReason why, const QString &reason);
    // The server is stopping: a connection still being read is answered so.
    void stopReading();
    // Sends the one line this connection gets, then lets the peer close.
    void answer(const QString &line);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    enum class State
    {
        Reading,
        Storing,
        Answered
    };

    void arm();
    void readBytes();
    void quiet();
    void reject(RejectReason why, const QString &reason);
    void peerClosed();

    ConnectionHost &m_host;
    ServerLimits m_limits;
    QTcpSocket *m_socket;
    QString m_peer;
    QString m_key;
    quint64 m_seat;
    QElapsedTimer m_age;
    QByteArray m_bytes;
    QBasicTimer m_timer;
    QDeadlineTimer m_quietEnd{QDeadlineTimer::Forever};
    QDeadlineTimer m_idleEnd;
    QDeadlineTimer m_lifeEnd; // after the answer: the end of the wait for the peer to close
    State m_state = State::Reading;
    int m_spare = -1; // a second descriptor of the connection, from its first bytes on
};

// The score server's door for submissions.
//
// It gives each connection a place to be read in, answers it once the board (BoardKeeper) has
// stored its score or it was refused, then closes it.
//
// Everything but the writing to disk runs on one thread's event loop. A connection is answered once
// its bytes have the shape of a submission and 100 ms have passed without another byte, or as soon
// as they can no longer become one. At most maxClients connections are read at a time, and one
// peer holds at most maxPerPeer places, counting connections still closing after their answer.
// More wait, at most maxWaiting of them and for at most waitMs, and a free place goes to the
// waiting connection whose peer holds the fewest. When places are short, the connections that have
// held theirs for holdMs without completing a submission give them up, those that have not even
// begun one first, the longest-held first.
#pragma once

#include "boardkeeper.h"
#include "listener.h"
#include "scoreconnection.h"
#include "scoreindex.h"
#include "scorestore.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>

#include <deque>

class QTcpSocket;

class ScoreServer : public QObject, private ConnectionHost
{
    Q_OBJECT

public:
    using Limits = ServerLimits;

    explicit ScoreServer(ScoreStore &database, Limits limits = Limits(), QObject *parent = nullptr);
    ~ScoreServer() override;

    // Listens on every port or on none; port 0 picks a free one. On failure says why in error.
    bool listen(const QHostAddress &address, const QList<quint16> &ports, QString *error);
    QList<quint16> ports() const;
    void close();
    // The most descriptors its connections may use at once: one each, and a second one for each
    // connection being read (see ScoreConnection).
    static int descriptorBudget(const Limits &limits);

    // Connections being read now, not counting those waiting for a place.
    int activeConnections() const { return m_active; }
    qsizetype waitingConnections() const { return static_cast<qsizetype>(m_waiting.size()); }
    qint64 scoreCount() const { return m_board.size(); }
    // Every score on the board in board order, for the web board to read.
    const SharedScoreIndex &index() const { return m_board.index(); }
    // Waits until every submission taken so far is stored and answered.
    void finishPending();
    // Stops listening, tells every connection still being read that the server is stopping,
    // stores and answers what was taken, and lets the answered connections close, for at most
    // waitMs.
    void shutDown(int waitMs);
    // Connections being read, written or closing.
    qsizetype openConnections() const;
    // Counters the web thread may read at any time.
    const ServerMetrics &metrics() const { return m_metrics; }

signals:
    // One line per accepted or rejected submission.
    void logLine(const QString &line);

private:
    struct Waiting
    {
        QTcpSocket *socket;
        QString key; // the peer's, which its share of places is counted by
        QDeadlineTimer until;
    };

    void take(int descriptor, const QHostAddress &peer);
    void shed();
    void drop(std::deque<Waiting>::iterator waiting, const QString &reason);
    void seat();
    void makeRoom();
    ScoreConnection *longestHeld(int heldMs) const;
    void expireWaiting();
    ScoreConnection *seatOne(std::deque<Waiting>::iterator waiting);
    std::deque<Waiting>::iterator nextToSeat();
    int share() const;
    // ConnectionHost
    void released(ScoreConnection *connection) override;
    void closed(ScoreConnection *connection) override;
    void queue(ScoreConnection *connection, ScoreEntry entry) override;
    void log(const QString &peer, const QString &score, const QString &nickname,
             const QString &outcome) override;
    void rejected(RejectReason reason) override;

    Limits m_limits;
    QList<Listener *> m_listeners;
    BoardKeeper m_board;
    int m_active = 0;                     // places taken: connections being read or stored
    quint64 m_seats = 0;                  // places given so far
    std::deque<Waiting> m_waiting;        // accepted, not yet read, in order of arrival
    QHash<QString, int> m_perPeer;        // connections open, by peer, waiting ones aside
    QHash<QString, int> m_waitingPerPeer; // connections waiting, by peer
    QList<ScoreConnection *> m_lingering; // answered, still open, in order of their answer
    QTimer m_roomTimer;                   // while connections wait: who can make room
    bool m_makingRoom = false;
    ServerMetrics m_metrics;
};

// The score server: listens on its ports, reads each connection's bytes as one submission,
// stores accepted scores through the database in batches, answers with one line and closes.
//
// Everything but the writing to disk runs on one thread's event loop. A connection is answered once
// its bytes have the shape of a submission and 100 ms have passed without another byte, or as soon
// as they can no longer become one. At most maxClients connections are read at a time, at most
// maxPerPeer of them from one peer address; more wait, in order of arrival, until a place is
// free for them. When places are short, connections that have not begun a submission within
// beginMs are closed to make room.
#pragma once

#include "rankindex.h"
#include "scoreconnection.h"
#include "scoredatabase.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <deque>

class QTcpServer;
class QTcpSocket;

// "every address" for the wildcard, else the address itself.
QString addressText(const QHostAddress &address);

class ScoreServer : public QObject, private ConnectionHost
{
    Q_OBJECT

public:
    using Limits = ServerLimits;

    explicit ScoreServer(ScoreDatabase &database, Limits limits = Limits(),
                         QObject *parent = nullptr);
    ~ScoreServer() override;

    // Listens on every port or on none; port 0 picks a free one. On failure says why in error.
    bool listen(const QHostAddress &address, const QList<quint16> &ports, QString *error);
    QList<quint16> ports() const;
    void close();

    // Connections being read now, not counting those waiting for a place.
    int activeConnections() const { return m_active; }
    qsizetype waitingConnections() const { return static_cast<qsizetype>(m_waiting.size()); }
    qint64 scoreCount() const { return m_ranks.size(); }
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
        QString address; // the peer's, which its share of places is counted by
    };

    struct Pending
    {
        ScoreConnection *connection;
        ScoreEntry entry;
    };

    void takeConnections();
    void seat();
    void makeRoom();
    // ConnectionHost
    void released(const QString &address) override;
    void queue(ScoreConnection *connection, ScoreEntry entry) override;
    void log(const QString &peer, const QString &score, const QString &nickname,
             const QString &outcome) override;
    void rejected(RejectReason reason) override;

    void startCommit();
    void committed(const std::vector<Pending> &batch, bool stored, const QString &error);

    ScoreDatabase &m_database;
    Limits m_limits;
    QList<QTcpServer *> m_servers;
    RankIndex m_ranks;
    std::optional<ScoreEntry> m_best;
    std::vector<Pending> m_pending;
    QTimer m_commitTimer;
    QThreadPool m_writer; // one thread: batches are written in order
    bool m_committing = false;
    int m_active = 0;
    std::deque<Waiting> m_waiting; // accepted, not yet read, in order of arrival
    QHash<QString, int> m_perPeer; // places held, by peer address
    QTimer m_roomTimer;            // while connections wait: who can make room
    bool m_makingRoom = false;
    ServerMetrics m_metrics;
};

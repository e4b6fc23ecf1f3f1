// The leaderboard as a web page, served over HTTP by the score server from a thread of its own:
// the page (/, /board.js, /board.css), a JSON API (/api/top, /api/player, /api/rank,
// /api/distribution) and /metrics in the Prometheus text format. The thread reads the database
// through a read-only connection of its own, so neither a slow reader nor a flood of web
// requests holds up the thread that takes submissions.
#pragma once

#include "servermetrics.h"

#include <QHostAddress>
#include <QString>
#include <QThread>

class BoardService;

struct WebLimits
{
    int maxConnections = 256;     // more are closed at once
    int idleMs = 15000;           // a connection with nothing to read or write for this long goes
    int lifetimeMs = 60000;       // the longest a connection may stay, however it trickles
    qint64 readLimit = 64 * 1024; // bytes buffered from one connection
};

class WebBoard
{
public:
    WebBoard(const QString &databasePath, const ServerMetrics &metrics, WebLimits limits = {});
    ~WebBoard();

    // Port 0 picks a free one. On failure says why in error.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_port; }

private:
    QThread m_thread;
    BoardService *m_service = nullptr; // lives in m_thread
    quint16 m_port = 0;
};

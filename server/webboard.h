// The leaderboard as a web page, served over HTTP by the score server from a thread of its own
// (see BoardApi for what it answers). The thread reads the database through a read-only
// connection of its own, so neither a slow reader nor a flood of web requests holds up the
// thread that takes submissions.
#pragma once

#include "httpserver.h"
#include "scoreindex.h"
#include "scorestore.h"
#include "servermetrics.h"

#include <QHostAddress>
#include <QString>
#include <QThread>

class BoardService;

class WebBoard
{
public:
    // The store and the index are the score server's: they must outlive the board. The board
    // reads rows through a connection of its own, which it asks the store for.
    WebBoard(ScoreStore &store, const ServerMetrics &metrics, const SharedScoreIndex &index,
             http::Limits limits = {});
    ~WebBoard();

    // Port 0 picks a free one. On failure says why in error.
    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_port; }

private:
    QThread m_thread;
    BoardService *m_service = nullptr; // lives in m_thread
    quint16 m_port = 0;
};

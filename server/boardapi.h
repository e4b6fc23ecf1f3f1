// The web board's answers: its page, its JSON API and /metrics, as plain functions from a request
// to a response over the score index and the board reader, so that they are tested without a
// socket. Where entries stand comes from the index, in O(log n); their rows from one read.
#pragma once

#include "boardreader.h"
#include "httprequest.h"
#include "httpresponse.h"
#include "scoreindex.h"
#include "servermetrics.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

class BoardApi
{
public:
    static constexpr int DefaultLimit = 50;
    static constexpr int MaxLimit = 100;
    static constexpr qint64 MaxOffset = 1000000000;
    static constexpr qsizetype MaxNicknameQuery = 64;

    // webConnections says how many web connections are open, for /metrics.
    // databasePath is the file whose size /metrics reports; empty for none.
    BoardApi(const SharedScoreIndex &index, BoardRows &reader, const ServerMetrics &metrics,
             QString databasePath, std::function<int()> webConnections);

    http::Response answer(const http::Request &request);

private:
    struct File
    {
        QByteArray type;
        QByteArray body;
        QByteArray tag; // the entity tag that validates it
    };

    http::Response file(const File &file, const http::Request &request) const;
    http::Response top(const QList<std::pair<QString, QString>> &query);
    http::Response player(const QList<std::pair<QString, QString>> &query);
    http::Response rank(const QList<std::pair<QString, QString>> &query);
    http::Response distribution();
    QByteArray metrics();

    const SharedScoreIndex &m_index;
    BoardRows &m_reader;
    const ServerMetrics &m_metrics;
    QString m_path;
    std::function<int()> m_webConnections;
    File m_page;
    File m_script;
    File m_style;
    File m_icon;
    QByteArray m_distribution;
    QElapsedTimer m_distributionAge;
};

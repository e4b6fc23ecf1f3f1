#include "webboard.h"

#include "boardapi.h"
#include "boardreader.h"

#include <QObject>

// What lives on the web thread: the database reader, the answers made from it, and the server.
class BoardService : public QObject
{
public:
    BoardService(ScoreStore &store, const ServerMetrics &metrics, const SharedScoreIndex &index,
                 const http::Limits &limits)
        : m_store(store), m_metrics(metrics), m_index(index), m_limits(limits)
    {}

    bool start(const QHostAddress &address, quint16 port, quint16 *bound, QString *error)
    {
        m_reader = m_store.openRows(error);
        if (!m_reader)
            return false;
        m_server = std::make_unique<http::Server>(
            m_limits, [this](const http::Request &request) { return m_api->answer(request); },
            this);
        m_api = std::make_unique<BoardApi>(m_index, *m_reader, m_metrics, m_store.filePath(),
                                           [this] { return m_server->openConnections(); });
        QString why;
        if (!m_server->listen(address, port, &why)) {
            *error = why.replace(QStringLiteral("cannot listen on"),
                                 QStringLiteral("cannot serve the web board on"));
            return false;
        }
        *bound = m_server->port();
        return true;
    }

private:
    ScoreStore &m_store;
    const ServerMetrics &m_metrics;
    const SharedScoreIndex &m_index;
    http::Limits m_limits;
    std::unique_ptr<BoardRows> m_reader;
    std::unique_ptr<BoardApi> m_api;
    std::unique_ptr<http::Server> m_server;
};

WebBoard::WebBoard(ScoreStore &store, const ServerMetrics &metrics, const SharedScoreIndex &index,
                   http::Limits limits)
{
    m_thread.setObjectName(QStringLiteral("web board"));
    // Moved to its thread before it makes a socket or a timer, so they all belong there.
    m_service = new BoardService(store, metrics, index, limits);
    m_service->moveToThread(&m_thread);
    m_thread.start();
}

WebBoard::~WebBoard()
{
    if (m_service)
        QMetaObject::invokeMethod(
            m_service, [this] { delete m_service; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool WebBoard::listen(const QHostAddress &address, quint16 port, QString *error)
{
    bool ok = false;
    QMetaObject::invokeMethod(
        m_service, [&] { ok = m_service->start(address, port, &m_port, error); },
        Qt::BlockingQueuedConnection);
    return ok;
}

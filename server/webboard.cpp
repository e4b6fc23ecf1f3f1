#include "webboard.h"

#include "boardreader.h"

#include "core/referencemachines.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <cmath>

#include <unistd.h>

namespace {

using Status = QHttpServerResponder::StatusCode;

constexpr int DefaultLimit = 50;
constexpr int MaxLimit = 100;
constexpr qint64 MaxOffset = 1000000000;
constexpr qsizetype MaxTargetLength = 2048;
constexpr qsizetype MaxNicknameQuery = 64;
constexpr double MaxScore = 100000.0;
constexpr int DistributionCacheMs = 5000;

// The page may run its own script and style and fetch from this server, and nothing else.
const QByteArray ContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

struct Reply
{
    Status status = Status::Ok;
    QByteArray type;
    QByteArray body;
};

Reply json(const QJsonObject &object, Status status = Status::Ok)
{
    return {status, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact)};
}

Reply error(Status status, const QString &message)
{
    return json({{QStringLiteral("error"), message}}, status);
}

QJsonObject entryJson(const BoardEntry &entry)
{
    return {{QStringLiteral("rank"), entry.rank},
            {QStringLiteral("nickname"), entry.nickname},
            {QStringLiteral("score"), entry.score},
            {QStringLiteral("score_text"), entry.scoreText},
            {QStringLiteral("submitted"), entry.submitted.toString(Qt::ISODateWithMs)}};
}

// A whole number from the query within [lowest, highest]; the fallback when it is absent.
std::optional<qint64> whole(const QUrlQuery &query, const QString &name, qint64 fallback,
                            qint64 lowest, qint64 highest)
{
    if (!query.hasQueryItem(name))
        return fallback;
    const QString text = query.queryItemValue(name, QUrl::FullyDecoded);
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok || value < lowest || value > highest)
        return std::nullopt;
    return value;
}

qint64 fileSize(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

QByteArray resource(const QString &name)
{
    QFile file(QStringLiteral(":/board/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Connections beyond the cap are closed as they come; each one is closed when it has been idle
// too long or open too long, so slow or stalled clients cannot hold descriptors for ever.
class CappedListener : public QTcpServer
{
public:
    CappedListener(const WebLimits &limits, QObject *parent) : QTcpServer(parent), m_limits(limits)
    {}
    int open() const { return m_open; }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_open >= m_limits.maxConnections) {
            ::close(static_cast<int>(descriptor));
            return;
        }
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            ::close(static_cast<int>(descriptor));
            return;
        }
        socket->setReadBufferSize(m_limits.readLimit);
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        idle->setInterval(m_limits.idleMs);
        const QPointer<QTcpSocket> guarded(socket);
        const auto close = [guarded] {
            if (guarded)
                guarded->abort();
        };
        connect(idle, &QTimer::timeout, socket, close);
        connect(socket, &QTcpSocket::readyRead, idle, qOverload<>(&QTimer::start));
        connect(socket, &QTcpSocket::bytesWritten, idle, qOverload<>(&QTimer::start));
        idle->start();
        QTimer::singleShot(m_limits.lifetimeMs, socket, close);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        addPendingConnection(socket);
    }

private:
    WebLimits m_limits;
    int m_open = 0;
};

} // namespace

class BoardService : public QAbstractHttpServer
{
public:
    BoardService(QString databasePath, const ServerMetrics &metrics, const WebLimits &limits)
        : m_path(std::move(databasePath)), m_metrics(metrics), m_limits(limits)
    {}

    bool start(const QHostAddress &address, quint16 port, quint16 *bound, QString *error)
    {
        m_reader = BoardReader::open(m_path, error);
        if (!m_reader)
            return false;
        m_page = resource(QStringLiteral("index.html"));
        m_script = resource(QStringLiteral("board.js"));
        m_style = resource(QStringLiteral("board.css"));
        m_listener = new CappedListener(m_limits, this);
        if (!m_listener->listen(address, port)) {
            *error = QStringLiteral("cannot serve the web board on port %1: %2")
                         .arg(port)
                         .arg(m_listener->errorString());
            return false;
        }
        bind(m_listener);
        *bound = m_listener->serverPort();
        return true;
    }

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override
    {
        const Reply reply = answer(request);
        QHttpServerResponder responder = makeResponder(request, socket);
        responder.writeStatusLine(reply.status);
        responder.writeHeader("Content-Type", reply.type);
        responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
        responder.writeHeader("Content-Security-Policy", ContentSecurityPolicy);
        responder.writeHeader("X-Content-Type-Options", "nosniff");
        responder.writeHeader("Referrer-Policy", "no-referrer");
        responder.writeHeader("Cache-Control", "no-store");
        if (reply.status == Status::MethodNotAllowed)
            responder.writeHeader("Allow", "GET, HEAD");
        // HEAD is answered as GET, without the body.
        responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray()
                                                                                 : reply.body);
        return true;
    }

    void missingHandler(const QHttpServerRequest &, QTcpSocket *) override {}

private:
    Reply answer(const QHttpServerRequest &request)
    {
        if (request.method() != QHttpServerRequest::Method::Get &&
            request.method() != QHttpServerRequest::Method::Head)
            return error(Status::MethodNotAllowed, QStringLiteral("only GET and HEAD are served"));
        const QUrl url = request.url();
        if (url.toEncoded().size() > MaxTargetLength)
            return error(Status::UriTooLong, QStringLiteral("the address is too long"));
        const QString path = url.path();
        const QUrlQuery query = request.query();
        if (path == u"/" || path == u"/index.html")
            return {Status::Ok, "text/html; charset=utf-8", m_page};
        if (path == u"/board.js")
            return {Status::Ok, "text/javascript; charset=utf-8", m_script};
        if (path == u"/board.css")
            return {Status::Ok, "text/css; charset=utf-8", m_style};
        if (path == u"/api/top")
            return top(query);
        if (path == u"/api/player")
            return player(query);
        if (path == u"/api/rank")
            return rank(query);
        if (path == u"/api/distribution")
            return distribution();
        if (path == u"/metrics")
            return {Status::Ok, "text/plain; version=0.0.4; charset=utf-8", metrics()};
        return error(Status::NotFound, QStringLiteral("no such page"));
    }

    Reply top(const QUrlQuery &query)
    {
        const auto limit = whole(query, QStringLiteral("limit"), DefaultLimit, 1, MaxLimit);
        const auto offset = whole(query, QStringLiteral("offset"), 0, 0, MaxOffset);
        if (!limit)
            return error(Status::BadRequest,
                         QStringLiteral("limit must be a whole number from 1 to %1").arg(MaxLimit));
        if (!offset)
            return error(Status::BadRequest, QStringLiteral("offset must be a whole number from "
                                                            "0 to %1")
                                                 .arg(MaxOffset));
        QJsonArray entries;
        for (const BoardEntry &entry : m_reader->top(static_cast<int>(*limit), *offset))
            entries.append(entryJson(entry));
        return json({{QStringLiteral("total"), m_reader->total()},
                     {QStringLiteral("limit"), *limit},
                     {QStringLiteral("offset"), *offset},
                     {QStringLiteral("entries"), entries}});
    }

    Reply player(const QUrlQuery &query)
    {
        const QString name = query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded);
        if (name.isEmpty() || name.size() > MaxNicknameQuery)
            return error(Status::BadRequest,
                         QStringLiteral("name must be a nickname of 1 to %1 characters")
                             .arg(MaxNicknameQuery));
        qint64 submissions = 0;
        const auto best = m_reader->best(name, &submissions);
        if (!best)
            return error(Status::NotFound, QStringLiteral("no score by that nickname"));
        return json({{QStringLiteral("nickname"), name},
                     {QStringLiteral("best"), entryJson(*best)},
                     {QStringLiteral("submissions"), submissions},
                     {QStringLiteral("total"), m_reader->total()}});
    }

    Reply rank(const QUrlQuery &query)
    {
        const QString text = query.queryItemValue(QStringLiteral("score"), QUrl::FullyDecoded);
        bool ok = false;
        const double score = text.toDouble(&ok);
        if (!ok || text.size() > 32 || !std::isfinite(score) || score < 0 || score > MaxScore)
            return error(
                Status::BadRequest,
                QStringLiteral("score must be a number of seconds from 0 to %1").arg(MaxScore));
        return json({{QStringLiteral("score"), score},
                     {QStringLiteral("rank"), m_reader->countBelow(score) + 1},
                     {QStringLiteral("total"), m_reader->total()}});
    }

    // Counted over ten bins a decade from 0.1 s to 1000 s, kept for a few seconds: every open
    // page asks for it on each refresh.
    Reply distribution()
    {
        if (!m_distributionAge.isValid() || m_distributionAge.hasExpired(DistributionCacheMs)) {
            std::vector<double> edges;
            for (int i = -10; i <= 30; ++i)
                edges.push_back(std::pow(10.0, i / 10.0));
            QJsonArray edgeList;
            for (const double edge : edges)
                edgeList.append(std::round(edge * 1000.0) / 1000.0);
            QJsonArray counts;
            for (const qint64 count : m_reader->histogram(edges))
                counts.append(count);
            QJsonArray references;
            for (const ReferenceMachine &machine : ReferenceMachines)
                references.append(QJsonObject{{QStringLiteral("name"), QLatin1String(machine.name)},
                                              {QStringLiteral("seconds"), machine.seconds}});
            m_distribution = json({{QStringLiteral("edges"), edgeList},
                                   {QStringLiteral("counts"), counts},
                                   {QStringLiteral("references"), references}})
                                 .body;
            m_distributionAge.start();
        }
        return {Status::Ok, "application/json", m_distribution};
    }

    QByteArray metrics()
    {
        QByteArray text;
        const auto metric = [&text](const char *name, const char *type, const char *help) {
            text +=
                QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
        };
        metric("orvane_submissions_accepted_total", "counter", "Submissions stored and answered.");
        text += "orvane_submissions_accepted_total " +
                QByteArray::number(m_metrics.accepted.load()) + '\n';
        metric("orvane_submissions_rejected_total", "counter", "Submissions refused, by reason.");
        for (int r = 0; r < RejectReasonCount; ++r)
            text += QByteArray("orvane_submissions_rejected_total{reason=\"") +
                    reasonLabel(static_cast<RejectReason>(r)) + "\"} " +
                    QByteArray::number(m_metrics.rejected[r].load()) + '\n';
        metric("orvane_open_connections", "gauge", "Score connections being read or answered.");
        text += "orvane_open_connections " + QByteArray::number(m_metrics.openConnections.load()) +
                '\n';
        metric("orvane_waiting_connections", "gauge", "Score connections waiting for a place.");
        text += "orvane_waiting_connections " +
                QByteArray::number(m_metrics.waitingConnections.load()) + '\n';
        metric("orvane_web_connections", "gauge", "Open connections to the web board.");
        text += "orvane_web_connections " + QByteArray::number(m_listener->open()) + '\n';
        metric("orvane_scores", "gauge", "Scores on the board.");
        text += "orvane_scores " + QByteArray::number(m_reader->total()) + '\n';
        metric("orvane_database_bytes", "gauge", "Size of the database file.");
        text += "orvane_database_bytes " + QByteArray::number(fileSize(m_path)) + '\n';
        metric("orvane_log_bytes", "gauge", "Size of the database's write-ahead log.");
        text += "orvane_log_bytes " +
                QByteArray::number(fileSize(m_path + QStringLiteral("-wal"))) + '\n';
        return text;
    }

    QString m_path;
    const ServerMetrics &m_metrics;
    WebLimits m_limits;
    std::unique_ptr<BoardReader> m_reader;
    CappedListener *m_listener = nullptr;
    QByteArray m_page;
    QByteArray m_script;
    QByteArray m_style;
    QByteArray m_distribution;
    QElapsedTimer m_distributionAge;
};

// The page's files are compiled into this static library; its resources must be named once.
static void loadBoardResources()
{
    Q_INIT_RESOURCE(board);
}

WebBoard::WebBoard(const QString &databasePath, const ServerMetrics &metrics, WebLimits limits)
{
    loadBoardResources();
    m_thread.setObjectName(QStringLiteral("web board"));
    // Moved to its thread before it makes a socket or a timer, so they all belong there.
    m_service = new BoardService(databasePath, metrics, limits);
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

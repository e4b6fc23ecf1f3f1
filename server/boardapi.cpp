#include "boardapi.h"

#include "submission.h"

#include "core/numbertext.h"
#include "core/referencemachines.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cmath>
#include <optional>

namespace {

using Query = QList<std::pair<QString, QString>>;

constexpr int DistributionCacheMs = 5000;

// The page may run its own script and style and fetch from this server, and nothing else.
const QByteArray ContentSecurityPolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

http::Response json(const QJsonObject &object)
{
    return {200, "application/json", QJsonDocument(object).toJson(QJsonDocument::Compact), {}};
}

// Text as a JSON string: quotes, backslashes and control characters escaped, the rest UTF-8.
void appendJsonString(QByteArray &out, const QString &text)
{
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += "0123456789abcdef"[byte >> 4];
            out += "0123456789abcdef"[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

QByteArray jsonNumber(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

// An entry as the API writes it: written directly, since a page of them is the board's most
// frequent answer.
void appendEntry(QByteArray &out, const BoardEntry &entry)
{
    out += "{\"id\":" + QByteArray::number(entry.id) + ",\"nickname\":";
    appendJsonString(out, entry.nickname);
    out += ",\"rank\":" + QByteArray::number(entry.rank) + ",\"score\":" + jsonNumber(entry.score) +
           ",\"score_text\":";
    appendJsonString(out, entry.scoreText);
    out += ",\"submitted\":";
    appendJsonString(out, entry.submitted);
    out += '}';
}

// The value of a parameter given at most once: nothing when absent, an error when repeated.
struct Parameter
{
    std::optional<QString> value;
    bool repeated = false;
};

Parameter parameter(const Query &query, const QString &name)
{
    Parameter found;
    for (const auto &[key, value] : query) {
        if (key != name)
            continue;
        found.repeated = found.value.has_value();
        found.value = value;
    }
    return found;
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

// A key written as "score,id", as the entries' keys are.
std::optional<ScoreKey> keyOf(const QString &text)
{
    const qsizetype comma = text.indexOf(QLatin1Char(','));
    bool scoreOk = false;
    bool idOk = false;
    if (comma < 0 || text.size() > 64)
        return std::nullopt;
    const double score = text.left(comma).toDouble(&scoreOk);
    const qint64 id = text.mid(comma + 1).toLongLong(&idOk);
    if (!scoreOk || !idOk || !std::isfinite(score))
        return std::nullopt;
    return ScoreKey{score, id};
}

QString keyText(const ScoreKey &key)
{
    return QString::number(key.score, 'g', 17) + QLatin1Char(',') + QString::number(key.id);
}

http::Response unavailable(const QString &why)
{
    http::Response response = http::errorResponse(
        503, QStringLiteral("the board could not be read (%1); please try again").arg(why));
    response.fields.emplace_back("Retry-After", "1");
    return response;
}

// Whether an If-None-Match list names the tag (weakly, as RFC 9110 compares for GET).
bool matches(const QByteArray &list, const QByteArray &tag)
{
    for (QByteArray candidate : list.split(',')) {
        candidate = candidate.trimmed();
        if (candidate.startsWith("W/"))
            candidate.remove(0, 2);
        if (candidate == "*" || candidate == tag)
            return true;
    }
    return false;
}

} // namespace

// The page's files are compiled into this static library; its resources must be named once.
static void loadBoardResources()
{
    Q_INIT_RESOURCE(board);
}

BoardApi::BoardApi(const SharedScoreIndex &index, BoardRows &reader, const ServerMetrics &metrics,
                   QString databasePath, std::function<int()> webConnections)
    : m_index(index), m_reader(reader), m_metrics(metrics), m_path(std::move(databasePath)),
      m_webConnections(std::move(webConnections))
{
    loadBoardResources();
    const auto load = [](const char *name, const QByteArray &type) {
        File file{type, resource(QLatin1String(name)), {}};
        file.tag =
            '"' + QCryptographicHash::hash(file.body, QCryptographicHash::Sha256).toHex().left(20) +
            '"';
        return file;
    };
    m_page = load("index.html", "text/html; charset=utf-8");
    m_script = load("board.js", "text/javascript; charset=utf-8");
    m_style = load("board.css", "text/css; charset=utf-8");
    m_icon = load("favicon.png", "image/png");
}

http::Response BoardApi::answer(const http::Request &request)
{
    http::Response response;
    const auto path = http::decodedPath(request.path);
    const auto query = http::readQuery(request.query);
    if (request.method != "GET" && request.method != "HEAD") {
        response = http::errorResponse(405, QStringLiteral("only GET and HEAD are served"));
        response.fields.emplace_back("Allow", "GET, HEAD");
    } else if (!path || !query) {
        response = http::errorResponse(400, QStringLiteral("the address is not well formed"));
    } else if (*path == u"/" || *path == u"/index.html") {
        response = file(m_page, request);
    } else if (*path == u"/board.js") {
        response = file(m_script, request);
    } else if (*path == u"/board.css") {
        response = file(m_style, request);
    } else if (*path == u"/favicon.ico") {
        response = file(m_icon, request);
    } else if (*path == u"/api/top") {
        response = top(*query);
    } else if (*path == u"/api/player") {
        response = player(*query);
    } else if (*path == u"/api/rank") {
        response = rank(*query);
    } else if (*path == u"/api/distribution") {
        response = distribution();
    } else if (*path == u"/metrics") {
        response = {200, "text/plain; version=0.0.4; charset=utf-8", metrics(), {}};
    } else {
        response = http::errorResponse(404, QStringLiteral("no such page"));
    }
    // The board's data changes with every score: never kept. Its files are, until they change.
    if (response.field("Cache-Control").isEmpty())
        response.fields.emplace_back("Cache-Control", "no-store");
    response.fields.emplace_back("Content-Security-Policy", ContentSecurityPolicy);
    response.fields.emplace_back("X-Content-Type-Options", "nosniff");
    response.fields.emplace_back("Referrer-Policy", "no-referrer");
    return response;
}

http::Response BoardApi::file(const File &file, const http::Request &request) const
{
    http::Response response{200, file.type, file.body, {}};
    if (matches(request.field("if-none-match"), file.tag)) {
        response.status = 304;
        response.body.clear();
    }
    // Kept, but asked about each time: a new version of the daemon may bring new files.
    response.fields = {{"ETag", file.tag}, {"Cache-Control", "no-cache"}};
    return response;
}

http::Response BoardApi::top(const Query &query)
{
    const Parameter limitText = parameter(query, QStringLiteral("limit"));
    const Parameter offsetText = parameter(query, QStringLiteral("offset"));
    const Parameter afterText = parameter(query, QStringLiteral("after"));
    const auto limit = limitText.value ? wholeNumber(*limitText.value, 1, MaxLimit) : DefaultLimit;
    const auto offset = offsetText.value ? wholeNumber(*offsetText.value, 0, MaxOffset) : 0;
    const auto after = afterText.value ? keyOf(*afterText.value) : std::nullopt;
    if (!limit || limitText.repeated)
        return http::errorResponse(
            400, QStringLiteral("limit must be a whole number from 1 to %1").arg(MaxLimit));
    if (!offset || offsetText.repeated)
        return http::errorResponse(
            400, QStringLiteral("offset must be a whole number from 0 to %1").arg(MaxOffset));
    if ((afterText.value && !after) || afterText.repeated || (after && offsetText.value))
        return http::errorResponse(400,
                                   QStringLiteral("after must be an entry's key, \"score,id\", "
                                                  "and comes without offset"));

    // Where the page stands, from one look at the index: the total, the keys and their places.
    struct Page
    {
        qint64 total = 0;
        qint64 from = 0;
        std::vector<ScoreKey> keys;
        std::vector<qint64> ranks;
    };
    const Page page = m_index.read([&](const ScoreIndex &index) {
        Page p;
        p.total = index.size();
        p.from = after ? index.position({after->score, after->id + 1}) : *offset;
        if (p.from > p.total)
            return p;
        p.keys = index.slice(p.from, *limit);
        if (!p.keys.empty()) {
            std::vector<double> scores;
            scores.reserve(p.keys.size());
            for (const ScoreKey &key : p.keys)
                scores.push_back(key.score);
            // The page's first entry may share its place with entries on the page before.
            p.ranks = boardPlaces(scores, p.from, index.countBelow(scores.front()) + 1);
        }
        return p;
    });
    if (page.from > page.total)
        return http::errorResponse(
            400, QStringLiteral("offset is past the end of the board (%1 scores)").arg(page.total));

    std::vector<qint64> ids;
    for (const ScoreKey &key : page.keys)
        ids.push_back(key.id);
    QString error;
    const auto rows = m_reader.rows(ids, &error);
    if (!rows)
        return unavailable(error);
    QByteArray body = "{\"entries\":[";
    body.reserve(200 * static_cast<qsizetype>(page.keys.size()) + 100);
    for (std::size_t i = 0; i < page.keys.size(); ++i) {
        const auto row = rows->find(page.keys[i].id);
        // Removed between the look at the index and the read: the next answer has it right.
        if (row == rows->end())
            return unavailable(QStringLiteral("it changed while it was read"));
        BoardEntry entry = row->second;
        entry.rank = page.ranks[i];
        if (i > 0)
            body += ',';
        appendEntry(body, entry);
    }
    body += "],\"limit\":" + QByteArray::number(*limit) + ",\"next\":";
    if (page.keys.empty() || page.from + *limit >= page.total)
        body += "null";
    else
        appendJsonString(body, keyText(page.keys.back()));
    body += ",\"offset\":" + QByteArray::number(page.from) +
            ",\"total\":" + QByteArray::number(page.total) + '}';
    return {200, "application/json", body, {}};
}

http::Response BoardApi::player(const Query &query)
{
    const Parameter name = parameter(query, QStringLiteral("name"));
    if (!name.value || name.value->isEmpty() || name.value->size() > MaxNicknameQuery ||
        name.repeated)
        return http::errorResponse(
            400,
            QStringLiteral("name must be a nickname of 1 to %1 characters").arg(MaxNicknameQuery));
    QString error;
    const auto player = m_reader.player(*name.value, &error);
    if (!player)
        return unavailable(error);
    if (!player->best)
        return http::errorResponse(404, QStringLiteral("no score by that nickname"));
    BoardEntry best = *player->best;
    const auto [rank, total] = m_index.read([&](const ScoreIndex &index) {
        return std::pair(index.countBelow(best.score) + 1, index.size());
    });
    best.rank = rank;
    QByteArray body = "{\"best\":";
    appendEntry(body, best);
    body += ",\"nickname\":";
    appendJsonString(body, *name.value);
    body += ",\"submissions\":" + QByteArray::number(player->submissions) +
            ",\"total\":" + QByteArray::number(total) + '}';
    return {200, "application/json", body, {}};
}

http::Response BoardApi::rank(const Query &query)
{
    const Parameter text = parameter(query, QStringLiteral("score"));
    bool ok = false;
    const double score = text.value ? text.value->toDouble(&ok) : 0;
    if (!ok || text.repeated || text.value->size() > 32 || !std::isfinite(score) || score < 0 ||
        score > submission::MaxScore)
        return http::errorResponse(400, QStringLiteral("score must be a number of seconds from 0 "
                                                       "to %1")
                                            .arg(submission::MaxScore));
    const auto [below, total] = m_index.read(
        [&](const ScoreIndex &index) { return std::pair(index.countBelow(score), index.size()); });
    return json({{QStringLiteral("score"), score},
                 {QStringLiteral("rank"), below + 1},
                 {QStringLiteral("total"), total}});
}

// Counted over ten bins a decade from 0.1 s to 1000 s, kept for a few seconds: every open page
// asks for it on each refresh.
http::Response BoardApi::distribution()
{
    if (!m_distributionAge.isValid() || m_distributionAge.hasExpired(DistributionCacheMs)) {
        std::vector<double> edges;
        for (int i = -10; i <= 30; ++i)
            edges.push_back(std::pow(10.0, i / 10.0));
        QJsonArray edgeList;
        for (const double edge : edges)
            edgeList.append(std::round(edge * 1000.0) / 1000.0);
        // Each bin from the places of its edges; the first bin also takes the scores below it,
        // the last those above.
        QJsonArray counts;
        m_index.read([&](const ScoreIndex &index) {
            qint64 previous = 0;
            for (std::size_t i = 1; i < edges.size(); ++i) {
                const qint64 below =
                    i + 1 == edges.size() ? index.size() : index.countBelow(edges[i]);
                counts.append(below - previous);
                previous = below;
            }
            return 0;
        });
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
    return {200, "application/json", m_distribution, {}};
}

QByteArray BoardApi::metrics()
{
    QByteArray text;
    const auto metric = [&text](const char *name, const char *type, const char *help) {
        text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    };
    metric("orvane_submissions_accepted_total", "counter", "Submissions stored and answered.");
    text +=
        "orvane_submissions_accepted_total " + QByteArray::number(m_metrics.accepted.load()) + '\n';
    metric("orvane_submissions_rejected_total", "counter", "Submissions refused, by reason.");
    for (int r = 0; r < RejectReasonCount; ++r)
        text += QByteArray("orvane_submissions_rejected_total{reason=\"") +
                reasonLabel(static_cast<RejectReason>(r)) + "\"} " +
                QByteArray::number(m_metrics.rejected[r].load()) + '\n';
    metric("orvane_open_connections", "gauge", "Score connections being read or answered.");
    text +=
        "orvane_open_connections " + QByteArray::number(m_metrics.openConnections.load()) + '\n';
    metric("orvane_waiting_connections", "gauge", "Score connections waiting for a place.");
    text += "orvane_waiting_connections " +
            QByteArray::number(m_metrics.waitingConnections.load()) + '\n';
    metric("orvane_web_connections", "gauge", "Open connections to the web board.");
    text += "orvane_web_connections " + QByteArray::number(m_webConnections()) + '\n';
    metric("orvane_scores", "gauge", "Scores on the board.");
    text += "orvane_scores " +
            QByteArray::number(m_index.read([](const ScoreIndex &index) { return index.size(); })) +
            '\n';
    if (!m_path.isEmpty()) {
        metric("orvane_database_bytes", "gauge", "Size of the database file.");
        text += "orvane_database_bytes " + QByteArray::number(fileSize(m_path)) + '\n';
        metric("orvane_log_bytes", "gauge", "Size of the database's write-ahead log.");
        text += "orvane_log_bytes " +
                QByteArray::number(fileSize(m_path + QStringLiteral("-wal"))) + '\n';
    }
    return text;
}

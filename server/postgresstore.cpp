#include "postgresstore.h"

#include <libpq-fe.h>

#include <QUrl>

#include <cstdlib>
#include <limits>

namespace {

// Ids above the highest one seen with every id below it are waited for this long: a
// transaction that took its id earlier may still commit; one that rolled back never will.
constexpr int MissingMs = 10000;

const char *const Schema[] = {
    ("CREATE TABLE IF NOT EXISTS scores (id BIGSERIAL PRIMARY KEY, score DOUBLE PRECISION NOT "
     "NULL, score_text TEXT NOT NULL, nickname TEXT NOT NULL, peer TEXT NOT NULL, submitted TEXT "
     "NOT NULL)"),
    "CREATE INDEX IF NOT EXISTS scores_by_score ON scores (score, id)",
    "CREATE INDEX IF NOT EXISTS scores_by_nickname ON scores (nickname, score, id)",
    // What moderation removed, for every daemon to take out of its ranks.
    ("CREATE TABLE IF NOT EXISTS score_removals (seq BIGSERIAL PRIMARY KEY, score_id BIGINT NOT "
     "NULL, score DOUBLE PRECISION NOT NULL)")};

// A result that clears itself.
class Result
{
public:
    explicit Result(PGresult *result) : m_result(result) {}
    ~Result() { PQclear(m_result); }
    Result(const Result &) = delete;
    Result &operator=(const Result &) = delete;

    bool ok() const
    {
        const ExecStatusType status = PQresultStatus(m_result);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    }
    int rows() const { return PQntuples(m_result); }
    QString text(int row, int column) const
    {
        return QString::fromUtf8(PQgetvalue(m_result, row, column),
                                 PQgetlength(m_result, row, column));
    }
    double real(int row, int column) const
    {
        return std::strtod(PQgetvalue(m_result, row, column), nullptr);
    }
    qint64 whole(int row, int column) const
    {
        return std::strtoll(PQgetvalue(m_result, row, column), nullptr, 10);
    }
    QString error() const { return QString::fromUtf8(PQresultErrorMessage(m_result)).trimmed(); }

private:
    PGresult *m_result;
};

// Runs a statement with text parameters.
PGresult *run(pg_conn *connection, const char *sql, const std::vector<QByteArray> &parameters = {})
{
    std::vector<const char *> values;
    values.reserve(parameters.size());
    for (const QByteArray &parameter : parameters)
        values.push_back(parameter.constData());
    return PQexecParams(connection, sql, static_cast<int>(values.size()), nullptr, values.data(),
                        nullptr, nullptr, 0);
}

QString connectionError(pg_conn *connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).trimmed();
}

void quiet(void *, const char *) {}

pg_conn *connect(const QString &address)
{
    const QByteArray url = address.toUtf8();
    // The address first, then what the daemon needs whatever it says.
    const char *keywords[] = {"dbname", "connect_timeout", "application_name", nullptr};
    const char *values[] = {url.constData(), "3", "orvane-scored", nullptr};
    pg_conn *connection = PQconnectdbParams(keywords, values, 1);
    // Notices ("relation already exists, skipping") are no news to the daemon's log.
    PQsetNoticeProcessor(connection, quiet, nullptr);
    return connection;
}

ScoreEntry entryOf(const Result &result, int row)
{
    ScoreEntry entry;
    entry.id = result.whole(row, 0);
    entry.score = result.real(row, 1);
    entry.scoreText = result.text(row, 2);
    entry.nickname = result.text(row, 3);
    entry.peer = result.text(row, 4);
    entry.submitted = QDateTime::fromString(result.text(row, 5), Qt::ISODateWithMs);
    return entry;
}

// The web board's reader: a connection of its own; each answer is one statement, so one
// snapshot of the table.
class PostgresRows final : public BoardRows
{
public:
    explicit PostgresRows(QString address) : m_address(std::move(address)) {}
    ~PostgresRows() override { PQfinish(m_connection); }

    bool connectNow(QString *error) { return connection(error) != nullptr; }

    std::optional<std::map<qint64, BoardEntry>> rows(const std::vector<qint64> &ids,
                                                     QString *error) override
    {
        QByteArray list = "{";
        for (std::size_t i = 0; i < ids.size(); ++i)
            list += (i ? "," : "") + QByteArray::number(ids[i]);
        list += '}';
        const Result result(query("SELECT id, score, score_text, nickname, submitted FROM scores "
                                  "WHERE id = ANY($1::bigint[])",
                                  {list}, error));
        if (!result.ok()) {
            if (error->isEmpty())
                *error = result.error();
            return std::nullopt;
        }
        std::map<qint64, BoardEntry> found;
        for (int row = 0; row < result.rows(); ++row)
            found.emplace(result.whole(row, 0), entryAt(result, row));
        return found;
    }

    std::optional<Player> player(const QString &nickname, QString *error) override
    {
        const Result result(query("SELECT id, score, score_text, nickname, submitted, (SELECT "
                                  "COUNT(*) FROM scores WHERE nickname = $1) FROM scores WHERE "
                                  "nickname = $1 ORDER BY score, id LIMIT 1",
                                  {nickname.toUtf8()}, error));
        if (!result.ok()) {
            if (error->isEmpty())
                *error = result.error();
            return std::nullopt;
        }
        Player player;
        if (result.rows() > 0) {
            player.best = entryAt(result, 0);
            player.submissions = result.whole(0, 5);
        }
        return player;
    }

private:
    // One statement; a connection found broken (the server restarted) is made again once.
    PGresult *query(const char *sql, const std::vector<QByteArray> &parameters, QString *error)
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            pg_conn *connection = this->connection(error);
            if (!connection)
                return nullptr;
            PGresult *result = run(connection, sql, parameters);
            const ExecStatusType status = PQresultStatus(result);
            if (status == PGRES_TUPLES_OK || PQstatus(connection) == CONNECTION_OK || attempt)
                return result;
            PQclear(result);
        }
        return nullptr;
    }

    static BoardEntry entryAt(const Result &result, int row)
    {
        BoardEntry entry;
        entry.id = result.whole(row, 0);
        entry.score = result.real(row, 1);
        entry.scoreText = result.text(row, 2);
        entry.nickname = result.text(row, 3);
        entry.submitted = result.text(row, 4);
        return entry;
    }

    pg_conn *connection(QString *error)
    {
        if (m_connection && PQstatus(m_connection) == CONNECTION_OK)
            return m_connection;
        PQfinish(m_connection);
        m_connection = connect(m_address);
        if (PQstatus(m_connection) == CONNECTION_OK)
            return m_connection;
        *error = connectionError(m_connection);
        PQfinish(m_connection);
        m_connection = nullptr;
        return nullptr;
    }

    QString m_address;
    pg_conn *m_connection = nullptr;
};

} // namespace

bool PostgresStore::isAddress(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://")) ||
           text.startsWith(QLatin1String("postgres://"));
}

QString PostgresStore::shown(const QString &address)
{
    QUrl url(address);
    url.setPassword(QString());
    return url.toString();
}

PostgresStore::PostgresStore(QString address)
    : m_address(std::move(address)), m_shown(shown(m_address))
{}

PostgresStore::~PostgresStore()
{
    PQfinish(m_connection);
}

std::unique_ptr<PostgresStore> PostgresStore::open(const QString &address, QString *error)
{
    std::unique_ptr<PostgresStore> store(new PostgresStore(address));
    pg_conn *connection = store->connection(error);
    if (!connection)
        return nullptr;
    for (const char *statement : Schema) {
        // Two daemons making the tables at once: the loser's statement fails, and its second
        // try finds them made.
        for (int attempt = 0;; ++attempt) {
            const Result result(run(connection, statement));
            if (result.ok())
                break;
            if (attempt == 1) {
                *error = result.error();
                return nullptr;
            }
        }
    }
    return store;
}

pg_conn *PostgresStore::connection(QString *error)
{
    if (m_connection && PQstatus(m_connection) == CONNECTION_OK)
        return m_connection;
    PQfinish(m_connection);
    m_connection = connect(m_address);
    if (PQstatus(m_connection) == CONNECTION_OK) {
        // Whatever others did meanwhile is read anew.
        m_reload = true;
        return m_connection;
    }
    if (error)
        *error = QStringLiteral("the database is not available: ") + connectionError(m_connection);
    PQfinish(m_connection);
    m_connection = nullptr;
    return nullptr;
}

bool PostgresStore::add(const std::vector<ScoreEntry> &entries, QString *error,
                        std::vector<qint64> *ids)
{
    if (ids)
        ids->clear();
    pg_conn *connection = this->connection(error);
    if (!connection)
        return false;
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        PQclear(PQexec(connection, "ROLLBACK"));
        if (ids)
            ids->clear();
        return false;
    };
    {
        Result begun(PQexec(connection, "BEGIN"));
        if (!begun.ok() && PQstatus(connection) != CONNECTION_OK) {
            // Broken since its last use (the server restarted): made again, once.
            connection = this->connection(error);
            if (!connection)
                return false;
            const Result again(PQexec(connection, "BEGIN"));
            if (!again.ok())
                return fail(again.error().isEmpty() ? connectionError(connection) : again.error());
        } else if (!begun.ok()) {
            return fail(begun.error().isEmpty() ? connectionError(connection) : begun.error());
        }
    }
    std::vector<qint64> made;
    for (const ScoreEntry &entry : entries) {
        const Result inserted(
            run(connection,
                "INSERT INTO scores (score, score_text, nickname, peer, submitted) VALUES "
                "($1, $2, $3, $4, $5) RETURNING id",
                {QByteArray::number(entry.score, 'g', 17), entry.scoreText.toUtf8(),
                 entry.nickname.toUtf8(), entry.peer.toUtf8(),
                 entry.submitted.toUTC().toString(Qt::ISODateWithMs).toUtf8()}));
        if (!inserted.ok() || inserted.rows() != 1)
            return fail(inserted.error());
        made.push_back(inserted.whole(0, 0));
    }
    // Acknowledged only once this has succeeded.
    const Result committed(PQexec(connection, "COMMIT"));
    if (!committed.ok())
        return fail(committed.error().isEmpty() ? connectionError(connection) : committed.error());
    for (const qint64 id : made)
        m_seen[id] = true; // in this daemon's ranks already: not a change by others
    if (ids)
        *ids = made;
    return true;
}

std::optional<std::vector<ScoreKey>> PostgresStore::allKeys()
{
    pg_conn *connection = this->connection(nullptr);
    if (!connection)
        return std::nullopt;
    const Result result(PQexec(connection, "SELECT score, id FROM scores"));
    if (!result.ok())
        return std::nullopt;
    std::vector<ScoreKey> keys;
    keys.reserve(static_cast<std::size_t>(result.rows()));
    for (int row = 0; row < result.rows(); ++row)
        keys.push_back({result.real(row, 0), result.whole(row, 1)});
    return keys;
}

std::optional<ScoreEntry> PostgresStore::entry(qint64 id)
{
    pg_conn *connection = this->connection(nullptr);
    if (!connection)
        return std::nullopt;
    const Result result(run(connection,
                            "SELECT id, score, score_text, nickname, peer, submitted FROM scores "
                            "WHERE id = $1",
                            {QByteArray::number(id)}));
    if (!result.ok() || result.rows() == 0)
        return std::nullopt;
    return entryOf(result, 0);
}

ScoreStore::Changes PostgresStore::changes()
{
    Changes changes;
    pg_conn *connection = this->connection(nullptr);
    if (!connection)
        return changes;
    if (m_reload) {
        // The board as it is now, and where following it goes on from.
        const Result removals(PQexec(connection, "SELECT COALESCE(MAX(seq), 0) FROM "
                                                 "score_removals"));
        changes.all = allKeys();
        if (!changes.all || !removals.ok())
            return {};
        m_reload = false;
        m_removals = removals.whole(0, 0);
        m_low = 0;
        for (const ScoreKey &key : *changes.all)
            m_low = std::max(m_low, key.id);
        m_seen.clear();
        m_missing.clear();
        return changes;
    }
    const Result added(run(connection,
                           "SELECT id, score FROM scores WHERE id > $1 ORDER BY id LIMIT 100000",
                           {QByteArray::number(m_low)}));
    if (!added.ok())
        return changes;
    for (int row = 0; row < added.rows(); ++row) {
        const qint64 id = added.whole(row, 0);
        if (!m_seen.count(id))
            changes.added.push_back({added.real(row, 1), id});
        m_seen[id] = true;
        m_missing.erase(id);
    }
    // Every id below the highest seen was either seen, or is missed for a while, or given up.
    if (!m_seen.empty()) {
        for (qint64 id = m_low + 1; id < m_seen.rbegin()->first; ++id) {
            if (!m_seen.count(id) && !m_missing.count(id))
                m_missing.emplace(id, QDeadlineTimer(MissingMs));
        }
    }
    while (true) {
        const qint64 next = m_low + 1;
        if (m_seen.erase(next)) {
            m_low = next;
        } else if (const auto missing = m_missing.find(next);
                   missing != m_missing.end() && missing->second.hasExpired()) {
            m_missing.erase(missing);
            m_low = next;
        } else {
            break;
        }
    }
    const Result removed(run(connection,
                             "SELECT seq, score_id, score FROM score_removals WHERE seq > $1 "
                             "ORDER BY seq",
                             {QByteArray::number(m_removals)}));
    if (removed.ok()) {
        for (int row = 0; row < removed.rows(); ++row) {
            m_removals = std::max(m_removals, removed.whole(row, 0));
            changes.removed.push_back({removed.real(row, 2), removed.whole(row, 1)});
        }
    }
    return changes;
}

qint64 PostgresStore::remove(const char *sql, const QByteArray &value, QString *error)
{
    pg_conn *connection = this->connection(error);
    if (!connection)
        return -1;
    const Result result(run(connection, sql, {value}));
    if (!result.ok()) {
        *error = result.error();
        return -1;
    }
    return result.rows();
}

qint64 PostgresStore::removeId(qint64 id, QString *error)
{
    // Removed and recorded in one statement: every daemon takes it out of its ranks.
    return remove("WITH gone AS (DELETE FROM scores WHERE id = $1::bigint RETURNING id, score) "
                  "INSERT INTO score_removals (score_id, score) SELECT id, score FROM gone "
                  "RETURNING score_id",
                  QByteArray::number(id), error);
}

qint64 PostgresStore::removeNickname(const QString &nickname, QString *error)
{
    return remove("WITH gone AS (DELETE FROM scores WHERE nickname = $1 RETURNING id, score) "
                  "INSERT INTO score_removals (score_id, score) SELECT id, score FROM gone "
                  "RETURNING score_id",
                  nickname.toUtf8(), error);
}

qint64 PostgresStore::count()
{
    pg_conn *connection = this->connection(nullptr);
    if (!connection)
        return -1;
    const Result result(PQexec(connection, "SELECT COUNT(*) FROM scores"));
    return result.ok() ? result.whole(0, 0) : -1;
}

std::vector<ScoreEntry> PostgresStore::top(qint64 limit)
{
    std::vector<ScoreEntry> entries;
    pg_conn *connection = this->connection(nullptr);
    if (!connection)
        return entries;
    const Result result(
        run(connection,
            "SELECT id, score, score_text, nickname, peer, submitted FROM scores "
            "ORDER BY score, id LIMIT $1",
            {QByteArray::number(limit < 0 ? std::numeric_limits<qint64>::max() : limit)}));
    if (!result.ok())
        return entries;
    for (int row = 0; row < result.rows(); ++row)
        entries.push_back(entryOf(result, row));
    return entries;
}

std::unique_ptr<BoardRows> PostgresStore::openRows(QString *error)
{
    auto rows = std::make_unique<PostgresRows>(m_address);
    if (!rows->connectNow(error))
        return nullptr;
    return rows;
}

#include "scoredatabase.h"

#include "sqlitetext.h"

#include <QFile>

#include <sqlite3.h>

#include <sys/stat.h>

namespace {

// Each statement as SQLite keeps it in sqlite_schema, so that an existing file's schema can be
// compared with it exactly.
const char *const SchemaObjects[][3] = {
    {"table", "scores",
     "CREATE TABLE scores ( id INTEGER PRIMARY KEY, score REAL NOT NULL, score_text TEXT NOT "
     "NULL, nickname TEXT NOT NULL, peer TEXT NOT NULL, submitted TEXT NOT NULL)"},
    {"index", "scores_by_score", "CREATE INDEX scores_by_score ON scores (score, id)"},
    // The web board finds a nickname's best score by this one.
    {"index", "scores_by_nickname",
     "CREATE INDEX scores_by_nickname ON scores (nickname, score, id)"},
};

bool bind(sqlite3_stmt *statement, int index, const QString &value)
{
    const QByteArray bytes = value.toUtf8();
    return sqlite3_bind_text(statement, index, bytes.constData(), static_cast<int>(bytes.size()),
                             SQLITE_TRANSIENT) == SQLITE_OK;
}

// The first value of a statement's first row; empty when it has none or fails.
QString firstValue(sqlite3 *db, const char *sql, int *status = nullptr)
{
    sqlite3_stmt *statement = nullptr;
    QString value;
    int result = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    if (result == SQLITE_OK) {
        result = sqlite3_step(statement);
        if (result == SQLITE_ROW)
            value = columnText(statement, 0);
    }
    sqlite3_finalize(statement);
    if (status)
        *status = result;
    return value;
}

} // namespace

QByteArray sqliteFileName(const QString &path)
{
    const QByteArray name = path.toUtf8();
    return name.startsWith("file:") ? "./" + name : name;
}

// A checkpoint is asked for once the log holds this many pages (4 MB of 4 KB pages), and made at
// least this often. The log starts over from its beginning only once a checkpoint has copied all
// of it, and a writer that never pauses keeps adding to it while the checkpoint thread copies. So
// once that thread has copied all but the last few pages, the writer copies those itself before
// its next batch (a few milliseconds); and past the hard cap it copies everything, however long
// that takes, so the log cannot outgrow that whatever the load. A second without commits folds
// the log back to nothing.
constexpr int CheckpointPages = 1000;
constexpr int CatchUpPages = 256;
constexpr int HardCapPages = 2000;
constexpr auto CheckpointEvery = std::chrono::seconds(1);
// After a checkpoint the log starts over from its beginning, overwriting itself in place; only a
// log that grew past this size is cut back to it. (Cutting it every time would make it grow
// again, and every sync then writes the file's size too.)
constexpr int LogSizeLimit = 12 * 1024 * 1024;

ScoreDatabase::~ScoreDatabase()
{
    stopCheckpoints();
    sqlite3_finalize(m_insert);
    // Closing the last connection checkpoints the log into the main file.
    sqlite3_close(m_db);
}

QString ScoreDatabase::lastError() const
{
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

std::unique_ptr<ScoreDatabase> ScoreDatabase::open(const QString &path, QString *error)
{
    std::unique_ptr<ScoreDatabase> database(new ScoreDatabase);
    database->m_path = path;
    const QByteArray name = sqliteFileName(path);
    const int opened =
        sqlite3_open_v2(name.constData(), &database->m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return std::unique_ptr<ScoreDatabase>();
    };
    if (opened != SQLITE_OK)
        return fail(database->m_db ? database->lastError() : QStringLiteral("out of memory"));
    sqlite3_busy_timeout(database->m_db, 5000);
    // Before anything is written: another program's database stays as it is.
    QString why;
    if (!database->checkSchema(&why))
        return fail(why);

    // A file that is not a database, or one that cannot be written, fails here.
    sqlite3_stmt *mode = nullptr;
    if (sqlite3_prepare_v2(database->m_db, "PRAGMA journal_mode=WAL", -1, &mode, nullptr) !=
        SQLITE_OK)
        return fail(database->lastError());
    const int stepped = sqlite3_step(mode);
    const QString journal = stepped == SQLITE_ROW ? columnText(mode, 0) : QString();
    sqlite3_finalize(mode);
    if (stepped != SQLITE_ROW)
        return fail(database->lastError());
    if (journal.compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        return fail(QStringLiteral("the database cannot use a write-ahead log (journal mode %1)")
                        .arg(journal));

    char *message = nullptr;
    // Every commit is synced: an acknowledged score survives a crash of the machine as well.
    QByteArray setup =
        "PRAGMA synchronous=FULL; PRAGMA journal_size_limit=" + QByteArray::number(LogSizeLimit) +
        "; BEGIN IMMEDIATE; PRAGMA application_id=" + QByteArray::number(ApplicationId) +
        "; PRAGMA user_version=" + QByteArray::number(SchemaVersion) + ';';
    for (const auto &object : SchemaObjects) {
        // "CREATE TABLE name" becomes "CREATE TABLE IF NOT EXISTS name".
        const QByteArray statement(object[2]);
        const qsizetype at = statement.indexOf(object[1]);
        setup += statement.left(at) + "IF NOT EXISTS " + statement.mid(at) + ';';
    }
    setup += "COMMIT;";
    if (sqlite3_exec(database->m_db, setup.constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString why = QString::fromUtf8(message);
        sqlite3_free(message);
        return fail(why);
    }
    // A table of another shape under the same name fails here rather than at the first score.
    if (sqlite3_prepare_v2(database->m_db,
                           "INSERT INTO scores (score, score_text, nickname, peer, submitted) "
                           "VALUES (?, ?, ?, ?, ?)",
                           -1, &database->m_insert, nullptr) != SQLITE_OK)
        return fail(database->lastError());
    // A file this process cannot write (a read-only file system, say, where a crash left the
    // log behind) opens read-only without a word: find out now rather than at the first score.
    if (sqlite3_db_readonly(database->m_db, "main") == 1)
        return fail(QStringLiteral("the database file cannot be written"));
    if (sqlite3_exec(database->m_db, "BEGIN IMMEDIATE; ROLLBACK", nullptr, nullptr, &message) !=
        SQLITE_OK) {
        const QString why = QString::fromUtf8(message);
        sqlite3_free(message);
        return fail(why);
    }
    struct stat log
    {};
    if (::stat(QFile::encodeName(path + QStringLiteral("-wal")).constData(), &log) == 0) {
        database->m_logDevice = log.st_dev;
        database->m_logInode = log.st_ino;
    }
    database->changedElsewhere(); // the version as it stands now
    database->startCheckpoints();
    return database;
}

bool ScoreDatabase::checkSchema(QString *error)
{
    int status = SQLITE_OK;
    const int application = firstValue(m_db, "PRAGMA application_id", &status).toInt();
    if (status != SQLITE_ROW) {
        *error = lastError();
        return false;
    }
    const int version = firstValue(m_db, "PRAGMA user_version").toInt();
    QList<QStringList> found;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT type, name, sql FROM sqlite_schema WHERE name NOT LIKE "
                           "'sqlite\\_%' ESCAPE '\\' ORDER BY type DESC, name DESC",
                           -1, &statement, nullptr) != SQLITE_OK) {
        *error = lastError();
        return false;
    }
    while (sqlite3_step(statement) == SQLITE_ROW)
        found.append(
            {columnText(statement, 0), columnText(statement, 1), columnText(statement, 2)});
    sqlite3_finalize(statement);

    QList<QStringList> expected;
    for (const auto &object : SchemaObjects)
        expected.append(
            {QLatin1String(object[0]), QLatin1String(object[1]), QLatin1String(object[2])});
    std::sort(expected.begin(), expected.end(), std::greater<>());
    std::sort(found.begin(), found.end(), std::greater<>());
    // A new file; or one of ours; or one an earlier version made, before files were marked.
    const bool empty = found.isEmpty() && application == 0 && version == 0;
    const bool ours = application == ApplicationId || (application == 0 && version == 0);
    if (empty || (ours && found == expected && version <= SchemaVersion))
        return true;
    const bool scoresTable = std::any_of(found.begin(), found.end(), [](const QStringList &object) {
        return object[0] == u"table" && object[1] == u"scores";
    });
    if (application == ApplicationId && version > SchemaVersion)
        *error = QStringLiteral("it was written by a newer version of orvane-scored");
    else if (!ours || !scoresTable)
        *error = QStringLiteral("it is not an Orvane score database");
    else
        *error = QStringLiteral("its tables are not those of an Orvane score database");
    return false;
}

bool ScoreDatabase::fileMoved() const
{
    int moved = 0;
    if (sqlite3_file_control(m_db, "main", SQLITE_FCNTL_HAS_MOVED, &moved) == SQLITE_OK &&
        moved != 0)
        return true;
    // The log is never removed while the database is open: SQLite only cuts it short.
    struct stat log
    {};
    if (m_logInode == 0)
        return false;
    return ::stat(QFile::encodeName(m_path + QStringLiteral("-wal")).constData(), &log) != 0 ||
           log.st_dev != m_logDevice || log.st_ino != m_logInode;
}

ScoreStore::Changes ScoreDatabase::changes()
{
    Changes changes;
    if (changedElsewhere() && !fileMoved())
        changes.all = allKeys();
    return changes;
}

std::unique_ptr<BoardRows> ScoreDatabase::openRows(QString *error)
{
    return BoardReader::open(m_path, error);
}

bool ScoreDatabase::changedElsewhere()
{
    sqlite3_stmt *statement = nullptr;
    qint64 version = m_dataVersion;
    if (sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        version = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    const bool changed = m_dataVersion >= 0 && version != m_dataVersion;
    m_dataVersion = version;
    return changed;
}

qint64 ScoreDatabase::remove(const char *sql, const QByteArray &value, QString *error)
{
    sqlite3_stmt *statement = nullptr;
    qint64 removed = -1;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_bind_text(statement, 1, value.constData(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_DONE)
        removed = sqlite3_changes(m_db);
    else if (error)
        *error = lastError();
    sqlite3_finalize(statement);
    return removed;
}

qint64 ScoreDatabase::removeId(qint64 id, QString *error)
{
    return remove("DELETE FROM scores WHERE id = CAST(? AS INTEGER)", QByteArray::number(id),
                  error);
}

qint64 ScoreDatabase::removeNickname(const QString &nickname, QString *error)
{
    return remove("DELETE FROM scores WHERE nickname = ?", nickname.toUtf8(), error);
}

int ScoreDatabase::walCommitted(void *self, sqlite3 *, const char *, int pages)
{
    auto *database = static_cast<ScoreDatabase *>(self);
    database->m_logPages = pages; // the writer's own thread: the only one that reads it
    // Once for every CheckpointPages the log grows by, not on every commit after the first
    // threshold: a checkpoint that could not catch up with the writer is not repeated at once.
    const int band = pages / CheckpointPages;
    const bool wake = band > database->m_logBand;
    database->m_logBand = band;
    {
        const std::lock_guard lock(database->m_mutex);
        ++database->m_commits;
        database->m_logLong = database->m_logLong || wake;
    }
    if (wake)
        database->m_wake.notify_one();
    return SQLITE_OK;
}

void ScoreDatabase::startCheckpoints()
{
    // The hook takes the place of SQLite's automatic checkpoint on commit.
    sqlite3_wal_hook(m_db, &ScoreDatabase::walCommitted, this);
    const QByteArray name = sqliteFileName(m_path);
    m_checkpointer = std::thread([this, name] {
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            return; // the closing connection still folds the log in
        }
        // Waits for the writer's transaction to end, never for long.
        sqlite3_busy_timeout(db, 1000);
        // A connection learns that the file keeps a write-ahead log only once it has read it;
        // until then its checkpoints do nothing at all.
        sqlite3_exec(db, "SELECT COUNT(*) FROM sqlite_master", nullptr, nullptr, nullptr);
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            m_wake.wait_for(lock, CheckpointEvery, [this] { return m_stop || m_logLong; });
            if (m_stop)
                break;
            const bool idle = m_commits == 0;
            m_commits = 0;
            m_logLong = false;
            lock.unlock();
            // Nothing written for a while: fold the whole log in and cut the file to nothing.
            // Else passive: copy what it can without holding up the writer.
            int copied = 0;
            if (sqlite3_wal_checkpoint_v2(
                    db, nullptr, idle ? SQLITE_CHECKPOINT_TRUNCATE : SQLITE_CHECKPOINT_PASSIVE,
                    nullptr, &copied) == SQLITE_OK)
                m_copiedPages = copied;
            lock.lock();
        }
        lock.unlock();
        sqlite3_close(db);
    });
}

void ScoreDatabase::stopCheckpoints()
{
    if (!m_checkpointer.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    m_checkpointer.join();
    sqlite3_wal_hook(m_db, nullptr, nullptr);
}

bool ScoreDatabase::add(const std::vector<ScoreEntry> &entries, QString *error,
                        std::vector<qint64> *ids)
{
    // Ends the batch without a trace; the reason is SQLite's unless given.
    const auto fail = [&](const QString &why = QString()) {
        if (error)
            *error = why.isEmpty() ? lastError() : why;
        sqlite3_reset(m_insert);
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    // A file removed, renamed or replaced under the server takes what is written to it along
    // when it is closed, and a new file at the path does not share its log: nothing may be
    // written or acknowledged then. Asked before the batch and again before its commit.
    const auto moved = [&] {
        return fail(QStringLiteral("the database file %1 or its write-ahead log was removed or "
                                   "replaced")
                        .arg(m_path));
    };
    if (fileMoved())
        return moved();
    if (ids)
        ids->clear();
    if (m_logPages >= HardCapPages) {
        // Copies the whole log and lets the next commit start it over from its beginning, if no
        // reader is in the log: the writer never waits for readers, and tries again next batch.
        sqlite3_busy_timeout(m_db, 0);
        if (sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_RESTART, nullptr, nullptr) ==
            SQLITE_OK)
            m_logPages = 0;
        sqlite3_busy_timeout(m_db, 5000);
    } else if (m_logPages >= CheckpointPages && m_logPages - m_copiedPages <= CatchUpPages) {
        // Copies the few pages the checkpoint thread has not, so the log starts over now.
        if (sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr) ==
            SQLITE_OK)
            m_logPages = 0;
    }
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error)
            *error = lastError();
        return false;
    }
    for (const ScoreEntry &entry : entries) {
        if (sqlite3_bind_double(m_insert, 1, entry.score) != SQLITE_OK ||
            !bind(m_insert, 2, entry.scoreText) || !bind(m_insert, 3, entry.nickname) ||
            !bind(m_insert, 4, entry.peer) ||
            !bind(m_insert, 5, entry.submitted.toUTC().toString(Qt::ISODateWithMs)))
            return fail();
        if (sqlite3_step(m_insert) != SQLITE_DONE)
            return fail();
        sqlite3_reset(m_insert);
        if (ids)
            ids->push_back(sqlite3_last_insert_rowid(m_db));
    }
    if (fileMoved())
        return moved();
    if (sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail();
    return true;
}

qint64 ScoreDatabase::count()
{
    sqlite3_stmt *statement = nullptr;
    qint64 rows = -1;
    if (sqlite3_prepare_v2(m_db, "SELECT COUNT(*) FROM scores", -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        rows = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return rows;
}

std::optional<std::vector<ScoreKey>> ScoreDatabase::allKeys()
{
    std::vector<ScoreKey> keys;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, "SELECT score, id FROM scores", -1, &statement, nullptr) !=
        SQLITE_OK)
        return std::nullopt;
    int stepped = SQLITE_ROW;
    while ((stepped = sqlite3_step(statement)) == SQLITE_ROW)
        keys.push_back({sqlite3_column_double(statement, 0), sqlite3_column_int64(statement, 1)});
    sqlite3_finalize(statement);
    if (stepped != SQLITE_DONE)
        return std::nullopt;
    return keys;
}

std::optional<ScoreEntry> ScoreDatabase::entry(qint64 id)
{
    sqlite3_stmt *statement = nullptr;
    std::optional<ScoreEntry> found;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT score, score_text, nickname, peer, submitted FROM scores "
                           "WHERE id = ?",
                           -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_bind_int64(statement, 1, id) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        found = ScoreEntry{id,
                           sqlite3_column_double(statement, 0),
                           columnText(statement, 1),
                           columnText(statement, 2),
                           columnText(statement, 3),
                           QDateTime::fromString(columnText(statement, 4), Qt::ISODateWithMs)};
    }
    sqlite3_finalize(statement);
    return found;
}

std::vector<ScoreEntry> ScoreDatabase::top(qint64 limit)
{
    std::vector<ScoreEntry> entries;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db,
                           "SELECT score, score_text, nickname, peer, submitted, id FROM scores "
                           "ORDER BY score, id LIMIT ?",
                           -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_bind_int64(statement, 1, limit) == SQLITE_OK)
        while (sqlite3_step(statement) == SQLITE_ROW) {
            ScoreEntry entry;
            entry.score = sqlite3_column_double(statement, 0);
            entry.scoreText = columnText(statement, 1);
            entry.nickname = columnText(statement, 2);
            entry.peer = columnText(statement, 3);
            entry.submitted = QDateTime::fromString(columnText(statement, 4), Qt::ISODateWithMs);
            entry.id = sqlite3_column_int64(statement, 5);
            entries.push_back(entry);
        }
    sqlite3_finalize(statement);
    return entries;
}

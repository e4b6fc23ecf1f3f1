#include "boardreader.h"

#include "scoredatabase.h"
#include "sqlitetext.h"

#include <sqlite3.h>

namespace {

// A row of (id, score, score_text, nickname, submitted), without its place.
BoardEntry entryAt(sqlite3_stmt *statement)
{
    BoardEntry entry;
    entry.id = sqlite3_column_int64(statement, 0);
    entry.score = sqlite3_column_double(statement, 1);
    entry.scoreText = columnText(statement, 2);
    entry.nickname = columnText(statement, 3);
    entry.submitted = columnText(statement, 4);
    return entry;
}

} // namespace

BoardReader::~BoardReader()
{
    for (sqlite3_stmt *statement : m_statements)
        sqlite3_finalize(statement);
    sqlite3_close(m_db);
}

std::unique_ptr<BoardReader> BoardReader::open(const QString &path, QString *error)
{
    std::unique_ptr<BoardReader> reader(new BoardReader);
    if (sqlite3_open_v2(sqliteFileName(path).constData(), &reader->m_db,
                        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(reader->m_db));
        return nullptr;
    }
    // The writer never holds the file against a reader for more than a moment.
    sqlite3_busy_timeout(reader->m_db, 1000);
    reader->m_row = reader->prepare(
        "SELECT id, score, score_text, nickname, submitted FROM scores WHERE id = ?");
    reader->m_best = reader->prepare("SELECT id, score, score_text, nickname, submitted FROM "
                                     "scores WHERE nickname = ? ORDER BY score, id LIMIT 1");
    reader->m_count = reader->prepare("SELECT COUNT(*) FROM scores WHERE nickname = ?");
    for (sqlite3_stmt *statement : reader->m_statements) {
        if (!statement) {
            *error = QString::fromUtf8(sqlite3_errmsg(reader->m_db));
            return nullptr;
        }
    }
    return reader;
}

sqlite3_stmt *BoardReader::prepare(const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    m_statements.push_back(statement);
    return statement;
}

bool BoardReader::begin(QString *error)
{
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    *error = QString::fromUtf8(sqlite3_errmsg(m_db));
    return false;
}

void BoardReader::end()
{
    sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
}

std::optional<std::map<qint64, BoardEntry>> BoardReader::rows(const std::vector<qint64> &ids,
                                                              QString *error)
{
    if (!begin(error))
        return std::nullopt;
    std::map<qint64, BoardEntry> found;
    for (const qint64 id : ids) {
        sqlite3_bind_int64(m_row, 1, id);
        const int stepped = sqlite3_step(m_row);
        if (stepped == SQLITE_ROW)
            found.emplace(id, entryAt(m_row));
        sqlite3_reset(m_row);
        if (stepped != SQLITE_ROW && stepped != SQLITE_DONE) {
            *error = QString::fromUtf8(sqlite3_errmsg(m_db));
            end();
            return std::nullopt;
        }
    }
    end();
    return found;
}

std::optional<BoardRows::Player> BoardReader::player(const QString &nickname, QString *error)
{
    if (!begin(error))
        return std::nullopt;
    const QByteArray name = nickname.toUtf8();
    Player player;
    bool ok = true;
    sqlite3_bind_text(m_best, 1, name.constData(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    const int best = sqlite3_step(m_best);
    if (best == SQLITE_ROW)
        player.best = entryAt(m_best);
    ok = ok && (best == SQLITE_ROW || best == SQLITE_DONE);
    sqlite3_reset(m_best);
    sqlite3_bind_text(m_count, 1, name.constData(), static_cast<int>(name.size()),
                      SQLITE_TRANSIENT);
    const int counted = sqlite3_step(m_count);
    if (counted == SQLITE_ROW)
        player.submissions = sqlite3_column_int64(m_count, 0);
    ok = ok && counted == SQLITE_ROW;
    sqlite3_reset(m_count);
    if (!ok)
        *error = QString::fromUtf8(sqlite3_errmsg(m_db));
    end();
    if (!ok)
        return std::nullopt;
    return player;
}

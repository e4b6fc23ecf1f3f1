#include "boardreader.h"

#include "scoredatabase.h"

#include <sqlite3.h>

namespace {

QString text(sqlite3_stmt *statement, int column)
{
    const auto *bytes = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(bytes, sqlite3_column_bytes(statement, column));
}

// A row of (score, score_text, nickname, submitted), without its place.
BoardEntry entryAt(sqlite3_stmt *statement)
{
    BoardEntry entry;
    entry.score = sqlite3_column_double(statement, 0);
    entry.scoreText = text(statement, 1);
    entry.nickname = text(statement, 2);
    entry.submitted = QDateTime::fromString(text(statement, 3), Qt::ISODateWithMs);
    return entry;
}

// Runs a statement that yields one number, then makes it ready for the next binding.
qint64 single(sqlite3_stmt *statement)
{
    qint64 value = 0;
    if (statement && sqlite3_step(statement) == SQLITE_ROW)
        value = sqlite3_column_int64(statement, 0);
    sqlite3_reset(statement);
    return value;
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
    // A checkpoint that resets the log holds readers back for a moment at most.
    sqlite3_busy_timeout(reader->m_db, 2000);
    reader->m_total = reader->prepare("SELECT COUNT(*) FROM scores");
    reader->m_top = reader->prepare("SELECT score, score_text, nickname, submitted FROM scores "
                                    "ORDER BY score, id LIMIT ? OFFSET ?");
    reader->m_best = reader->prepare("SELECT score, score_text, nickname, submitted FROM scores "
                                     "WHERE nickname = ? ORDER BY score, id LIMIT 1");
    reader->m_count = reader->prepare("SELECT COUNT(*) FROM scores WHERE nickname = ?");
    reader->m_below = reader->prepare("SELECT COUNT(*) FROM scores WHERE score < ?");
    reader->m_between =
        reader->prepare("SELECT COUNT(*) FROM scores WHERE score >= ? AND score < ?");
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

qint64 BoardReader::total()
{
    return single(m_total);
}

qint64 BoardReader::countBelow(double score)
{
    sqlite3_bind_double(m_below, 1, score);
    return single(m_below);
}

std::vector<BoardEntry> BoardReader::top(int limit, qint64 offset)
{
    std::vector<BoardEntry> entries;
    sqlite3_bind_int(m_top, 1, limit);
    sqlite3_bind_int64(m_top, 2, offset);
    while (sqlite3_step(m_top) == SQLITE_ROW)
        entries.push_back(entryAt(m_top));
    sqlite3_reset(m_top);
    // Places: equal scores share one, the next score takes its own place on the board.
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i == 0)
            entries[i].rank = countBelow(entries[i].score) + 1;
        else if (entries[i].score == entries[i - 1].score)
            entries[i].rank = entries[i - 1].rank;
        else
            entries[i].rank = offset + static_cast<qint64>(i) + 1;
    }
    return entries;
}

std::optional<BoardEntry> BoardReader::best(const QString &nickname, qint64 *submissions)
{
    const QByteArray name = nickname.toUtf8();
    sqlite3_bind_text(m_best, 1, name.constData(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    std::optional<BoardEntry> found;
    if (sqlite3_step(m_best) == SQLITE_ROW)
        found = entryAt(m_best);
    sqlite3_reset(m_best);
    if (!found)
        return found;
    found->rank = countBelow(found->score) + 1;
    sqlite3_bind_text(m_count, 1, name.constData(), static_cast<int>(name.size()),
                      SQLITE_TRANSIENT);
    *submissions = single(m_count);
    return found;
}

std::vector<qint64> BoardReader::histogram(const std::vector<double> &edges)
{
    std::vector<qint64> counts;
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        const bool first = i == 0;
        const bool last = i + 2 == edges.size();
        sqlite3_bind_double(m_between, 1, first ? -1e300 : edges[i]);
        sqlite3_bind_double(m_between, 2, last ? 1e300 : edges[i + 1]);
        counts.push_back(single(m_between));
    }
    return counts;
}

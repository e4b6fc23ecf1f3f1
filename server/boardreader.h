// Reading the leaderboard for the web board, on a read-only SQLite connection of its own: the
// reads never take the writer's lock, so a slow reader never delays a submission. One reader
// belongs to one thread.
#pragma once

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

struct BoardEntry
{
    qint64 rank = 0; // shared by equal scores: one more than the count of better ones
    double score = 0;
    QString scoreText;
    QString nickname;
    QDateTime submitted; // UTC
};

class BoardReader
{
public:
    ~BoardReader();
    BoardReader(const BoardReader &) = delete;
    BoardReader &operator=(const BoardReader &) = delete;

    static std::unique_ptr<BoardReader> open(const QString &path, QString *error);

    qint64 total();
    // The board from place offset + 1 on, at most limit entries.
    std::vector<BoardEntry> top(int limit, qint64 offset);
    // The nickname's best score and how many it has sent; nothing when it has none.
    std::optional<BoardEntry> best(const QString &nickname, qint64 *submissions);
    // How many scores are strictly better (lower) than this one.
    qint64 countBelow(double score);
    // How many scores fall in each [edges[i], edges[i + 1]); the first bin also takes the scores
    // below it, the last those above.
    std::vector<qint64> histogram(const std::vector<double> &edges);

private:
    BoardReader() = default;
    sqlite3_stmt *prepare(const char *sql);

    sqlite3 *m_db = nullptr;
    std::vector<sqlite3_stmt *> m_statements;
    sqlite3_stmt *m_total = nullptr;
    sqlite3_stmt *m_top = nullptr;
    sqlite3_stmt *m_best = nullptr;
    sqlite3_stmt *m_count = nullptr;
    sqlite3_stmt *m_below = nullptr;
    sqlite3_stmt *m_between = nullptr;
};

// The leaderboard's storage: one SQLite file in write-ahead-log mode with a table of every
// accepted submission. Submissions are written in batches, one transaction each, so a busy
// server pays for one sync to disk per batch rather than per score; a batch is acknowledged to
// its senders only once its transaction is committed.
#pragma once

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

struct ScoreEntry
{
    double score = 0;
    QString scoreText;
    QString nickname;
    QString peer;
    QDateTime submitted; // UTC
};

class ScoreDatabase
{
public:
    ~ScoreDatabase();
    ScoreDatabase(const ScoreDatabase &) = delete;
    ScoreDatabase &operator=(const ScoreDatabase &) = delete;

    // Opens or creates the file; on failure returns null and says why in error.
    static std::unique_ptr<ScoreDatabase> open(const QString &path, QString *error);

    // Stores the whole batch or, on failure, none of it.
    bool add(const std::vector<ScoreEntry> &entries, QString *error);

    qint64 count() const;
    std::vector<double> allScores() const;
    // The lowest scores, earliest first among equals; limit < 0 for all.
    std::vector<ScoreEntry> top(qint64 limit) const;
    QString path() const { return m_path; }

private:
    ScoreDatabase() = default;
    QString lastError() const;

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    QString m_path;
};

// The board as printed by --top: place (shared by equal scores), score, nickname, time.
QString leaderboardText(const std::vector<ScoreEntry> &entries);

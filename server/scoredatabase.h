// The leaderboard's storage: one SQLite file in write-ahead-log mode with a table of every
// accepted submission. Submissions are written in batches, one transaction each, synced to disk
// before the batch is acknowledged to its senders; a busy server pays for one sync per batch
// rather than per score. Copying the log back into the main file (the checkpoint) takes tens of
// milliseconds, so a thread of its own does it, and the thread that answers clients never waits
// for it.
#pragma once

#include <QDateTime>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

#include "scorestore.h"

// The name SQLite is given for a path: a path is always a file's path, never read as a URI
// ("file:scores.db?mode=memory" is a file of that name in the working folder).
QByteArray sqliteFileName(const QString &path);

class ScoreDatabase final : public ScoreStore
{
public:
    // What marks a file as one of Orvane's score databases ("ORVN"), and the version of its
    // schema.
    static constexpr int ApplicationId = 0x4f52564e;
    static constexpr int SchemaVersion = 1;

    ~ScoreDatabase() override;
    ScoreDatabase(const ScoreDatabase &) = delete;
    ScoreDatabase &operator=(const ScoreDatabase &) = delete;

    // Opens or creates the file; on failure (a file that cannot be written, or another program's
    // database among them) returns null and says why in error. Another program's file is left
    // exactly as it was.
    static std::unique_ptr<ScoreDatabase> open(const QString &path, QString *error);

    // Stores the whole batch or, on failure, none of it; a file (or its write-ahead log) that
    // was removed or replaced since it was opened is such a failure. The rows' ids go to ids.
    bool add(const std::vector<ScoreEntry> &entries, QString *error,
             std::vector<qint64> *ids = nullptr) override;

    qint64 count() override;
    std::optional<std::vector<ScoreKey>> allKeys() override;
    std::optional<ScoreEntry> entry(qint64 id) override;
    std::vector<ScoreEntry> top(qint64 limit) override;
    // A file replaced under the server is not read: what it holds is not this board's.
    Changes changes() override;
    std::unique_ptr<BoardRows> openRows(QString *error) override;
    QString name() const override { return m_path; }
    QString filePath() const override { return m_path; }
    QString path() const { return m_path; }

    // Whether another connection (an operator's command, sqlite3 by hand) has changed the file
    // since the last call.
    bool changedElsewhere();

    // Moderation: removes the row with this id, or every row of this nickname; the number of
    // rows removed, or -1 with the reason in error.
    qint64 removeId(qint64 id, QString *error) override;
    qint64 removeNickname(const QString &nickname, QString *error) override;

private:
    ScoreDatabase() = default;
    QString lastError() const;
    // Whether the file holds this server's schema, none at all, or something else.
    bool checkSchema(QString *error);

public:
    // The file at the path, or its write-ahead log, is no longer the one this connection writes.
    bool fileMoved() const;

private:
    qint64 remove(const char *sql, const QByteArray &value, QString *error);
    void startCheckpoints();
    void stopCheckpoints();
    static int walCommitted(void *self, sqlite3 *db, const char *name, int pages);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    QString m_path;

    std::thread m_checkpointer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_logLong = false;            // the log has reached the size that asks for a checkpoint
    int m_commits = 0;                 // since the checkpointer last looked
    int m_logPages = 0;                // in the log after the last commit
    int m_logBand = 0;                 // m_logPages in whole steps of the checkpoint size
    std::atomic<int> m_copiedPages{0}; // of the log, by the checkpoint thread's last checkpoint
    qint64 m_dataVersion = -1;
    // The write-ahead log's device and inode: SQLite writes on into a removed log unawares.
    quint64 m_logDevice = 0;
    quint64 m_logInode = 0;
};

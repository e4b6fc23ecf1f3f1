// Where the board's rows are kept, as the score server uses it: an SQLite file (ScoreDatabase,
// the embedded default) or a PostgreSQL database that several daemons share (PostgresStore).
// The server writes through one store from its writer thread; the web board reads rows through a
// BoardRows of its own.
#pragma once

#include "boardreader.h"
#include "scoreindex.h"

#include <QDateTime>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct ScoreEntry
{
    qint64 id = 0; // the row's, once stored
    double score = 0;
    QString scoreText;
    QString nickname;
    QString peer;
    QDateTime submitted; // UTC
};

class ScoreStore
{
public:
    virtual ~ScoreStore() = default;

    // Stores the whole batch durably, or, on failure, none of it, saying why; the rows' ids go
    // to ids. True only once the batch is committed.
    virtual bool add(const std::vector<ScoreEntry> &entries, QString *error,
                     std::vector<qint64> *ids) = 0;
    // Every row's place on the board; nothing when the rows cannot be read.
    virtual std::optional<std::vector<ScoreKey>> allKeys() = 0;
    virtual std::optional<ScoreEntry> entry(qint64 id) = 0;

    // What others (an operator, sqlite3 by hand, other daemons) changed since the last call:
    // rows added and removed, or, when only a whole new look will do, every row.
    struct Changes
    {
        std::optional<std::vector<ScoreKey>> all;
        std::vector<ScoreKey> added;
        std::vector<ScoreKey> removed;
        bool any() const { return all || !added.empty() || !removed.empty(); }
    };
    virtual Changes changes() = 0;

    // Moderation: the number of rows removed, or -1 with the reason in error.
    virtual qint64 removeId(qint64 id, QString *error) = 0;
    virtual qint64 removeNickname(const QString &nickname, QString *error) = 0;

    virtual qint64 count() = 0;
    // The lowest scores, earliest first among equals; limit < 0 for all.
    virtual std::vector<ScoreEntry> top(qint64 limit) = 0;
    // A reader of the rows for the web board's thread, with a connection of its own.
    virtual std::unique_ptr<BoardRows> openRows(QString *error) = 0;
    // How the store is named in messages: the file's path, or the database's address.
    virtual QString name() const = 0;
    // The file the rows are kept in, whose size /metrics reports; empty for a database server.
    virtual QString filePath() const { return {}; }
};

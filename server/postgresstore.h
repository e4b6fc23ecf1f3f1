// The board kept in a PostgreSQL database, which several daemons on several machines share:
// plain SQL over libpq, two tables (scores, and score_removals for what moderation removed).
//
// A score is acknowledged only once its transaction has committed. Each daemon keeps its own
// index of the board in step by reading the rows others added (by id, above the highest id up to
// which it has seen every row) and the removals recorded since it last looked, four times a
// second. A connection that breaks is made again at the next use; until then stores fail at once
// with a reason, and after it the whole board is read anew.
#pragma once

#include "scorestore.h"

#include <QDeadlineTimer>
#include <QString>

#include <map>
#include <memory>

struct pg_conn;

class PostgresStore final : public ScoreStore
{
public:
    // Whether the text names a PostgreSQL database (postgresql:// or postgres://).
    static bool isAddress(const QString &text);
    // The address as messages show it: without its password.
    static QString shown(const QString &address);
    // Connects and makes the tables if they are not there; on failure says why.
    static std::unique_ptr<PostgresStore> open(const QString &address, QString *error);
    ~PostgresStore() override;

    bool add(const std::vector<ScoreEntry> &entries, QString *error,
             std::vector<qint64> *ids = nullptr) override;
    std::optional<std::vector<ScoreKey>> allKeys() override;
    std::optional<ScoreEntry> entry(qint64 id) override;
    Changes changes() override;
    qint64 removeId(qint64 id, QString *error) override;
    qint64 removeNickname(const QString &nickname, QString *error) override;
    qint64 count() override;
    std::vector<ScoreEntry> top(qint64 limit) override;
    std::unique_ptr<BoardRows> openRows(QString *error) override;
    QString name() const override { return m_shown; }

private:
    explicit PostgresStore(QString address);
    // The connection, made again if it broke; null, with the reason, when it cannot be.
    pg_conn *connection(QString *error);
    qint64 remove(const char *sql, const QByteArray &value, QString *error);

    QString m_address;
    QString m_shown; // the address without its password
    pg_conn *m_connection = nullptr;
    bool m_reload = true; // the whole board is read at the next look for changes

    // Following the rows others add: every id up to m_low has been seen (or given up on: an id
    // whose transaction rolled back never appears); above it, those seen, and since when each
    // missing one has been missed.
    qint64 m_low = 0;
    std::map<qint64, bool> m_seen;
    std::map<qint64, QDeadlineTimer> m_missing;
    qint64 m_removals = 0; // the last removal applied
};

// Reading the board's rows for the web board, on a connection of its own. Each call is one read
// transaction. One reader belongs to one thread. Where a row stands on the board comes from the
// score index, not from here. BoardReader reads an SQLite file, read-only: its reads never take
// the writer's lock, so a slow reader never delays a submission.
#pragma once

#include <QDateTime>
#include <QString>

#include <map>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

struct BoardEntry
{
    qint64 id = 0;
    qint64 rank = 0; // shared by equal scores: one more than the count of better ones
    double score = 0;
    QString scoreText;
    QString nickname;
    QString submitted; // UTC, as ISO 8601 with milliseconds
};

class BoardRows
{
public:
    virtual ~BoardRows() = default;
    // The rows with these ids (those that exist), read together; nothing, with the reason in
    // error, when the read failed.
    virtual std::optional<std::map<qint64, BoardEntry>> rows(const std::vector<qint64> &ids,
                                                             QString *error) = 0;
    struct Player
    {
        std::optional<BoardEntry> best; // none when the nickname has no score
        qint64 submissions = 0;
    };
    // The nickname's best row and how many it has sent, read together.
    virtual std::optional<Player> player(const QString &nickname, QString *error) = 0;
};

class BoardReader final : public BoardRows
{
public:
    ~BoardReader() override;
    BoardReader(const BoardReader &) = delete;
    BoardReader &operator=(const BoardReader &) = delete;

    static std::unique_ptr<BoardReader> open(const QString &path, QString *error);

    std::optional<std::map<qint64, BoardEntry>> rows(const std::vector<qint64> &ids,
                                                     QString *error) override;
    std::optional<Player> player(const QString &nickname, QString *error) override;

private:
    BoardReader() = default;
    sqlite3_stmt *prepare(const char *sql);
    bool begin(QString *error);
    void end();

    sqlite3 *m_db = nullptr;
    std::vector<sqlite3_stmt *> m_statements;
    sqlite3_stmt *m_row = nullptr;
    sqlite3_stmt *m_best = nullptr;
    sqlite3_stmt *m_count = nullptr;
};

// The leaderboard as the score server keeps it.
//
// Every accepted score is written to the store in batches, on a writer thread of its own; the
// index of places and the best score are kept in step; rows that other programs change are
// followed within a second.
//
// Submissions are added on the server's thread and told their outcome there, in the order they
// were added, once their batch is on disk or has failed.
#pragma once

#include "scoreindex.h"
#include "scorestore.h"

#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

class BoardKeeper : public QObject
{
    Q_OBJECT

public:
    // What became of one submission: stored, with the place it took among how many and the best
    // score then; or not stored, and why.
    struct Outcome
    {
        bool stored = false;
        QString error;
        ScoreEntry entry; // with its row's id once stored
        qint64 place = 0;
        qint64 count = 0;
        ScoreEntry best;
    };
    using Told = std::function<void(const Outcome &)>;

    explicit BoardKeeper(ScoreStore &store, QObject *parent = nullptr);
    ~BoardKeeper() override;

    // Queues one submission for the next batch; told is called with its outcome.
    void add(ScoreEntry entry, Told told);
    // Waits until every submission added so far is stored and told.
    void finishPending();

    const SharedScoreIndex &index() const { return m_index; }
    qint64 size() const
    {
        return m_index.read([](const ScoreIndex &index) { return index.size(); });
    }

private:
    struct Pending
    {
        ScoreEntry entry;
        Told told;
    };

    void startCommit();
    void committed(const std::vector<Pending> &batch, bool stored, const QString &error,
                   const std::vector<qint64> &ids);
    // Follows changes another program made to the table: the index and the best are read anew.
    void followChanges();
    // Reads the best row anew: the one with this id, if it is still the best then.
    void refreshBest(qint64 id);

    ScoreStore &m_store;
    SharedScoreIndex m_index;
    std::optional<ScoreEntry> m_best;
    QTimer m_changesTimer;
    bool m_following = false;
    std::vector<Pending> m_pending;
    QTimer m_commitTimer;
    QThreadPool m_writer; // one thread: batches are written in order
    bool m_committing = false;
};

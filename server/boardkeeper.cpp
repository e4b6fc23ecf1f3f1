#include "boardkeeper.h"

#include <QCoreApplication>

#include <algorithm>
#include <memory>
#include <tuple>

namespace {

// How often the table is looked at for changes made by other programs.
constexpr int ChangesIntervalMs = 250;

} // namespace

BoardKeeper::BoardKeeper(ScoreStore &store, QObject *parent) : QObject(parent), m_store(store)
{
    std::vector<ScoreEntry> best = store.top(1);
    if (!best.empty())
        m_best = best.front();
    m_index.write([&store](ScoreIndex &index) {
        index.assign(store.allKeys().value_or(std::vector<ScoreKey>()));
        return 0;
    });
    // Another program may remove or change rows (an operator's command, sqlite3 by hand): the
    // ranks follow within a second.
    m_changesTimer.setInterval(ChangesIntervalMs);
    connect(&m_changesTimer, &QTimer::timeout, this, &BoardKeeper::followChanges);
    m_changesTimer.start();
    // Everything that fell quiet in one pass of the event loop goes into one transaction.
    m_commitTimer.setSingleShot(true);
    m_commitTimer.setInterval(0);
    connect(&m_commitTimer, &QTimer::timeout, this, &BoardKeeper::startCommit);
    m_writer.setMaxThreadCount(1);
    m_writer.setExpiryTimeout(-1);
}

BoardKeeper::~BoardKeeper()
{
    m_changesTimer.stop();
    finishPending();
}

void BoardKeeper::add(ScoreEntry entry, Told told)
{
    m_pending.push_back({std::move(entry), std::move(told)});
    if (!m_committing && !m_commitTimer.isActive())
        m_commitTimer.start();
}

void BoardKeeper::startCommit()
{
    m_commitTimer.stop();
    if (m_committing || m_pending.empty())
        return;
    m_committing = true;
    auto batch = std::make_shared<std::vector<Pending>>();
    batch->swap(m_pending);
    auto entries = std::make_shared<std::vector<ScoreEntry>>();
    entries->reserve(batch->size());
    for (const Pending &pending : *batch)
        entries->push_back(pending.entry);
    // The sync to disk happens on the writer's thread; outcomes are told on this one.
    m_writer.start([this, batch, entries] {
        QString error;
        std::vector<qint64> ids;
        const bool stored = m_store.add(*entries, &error, &ids);
        QMetaObject::invokeMethod(
            this, [this, batch, stored, error, ids] { committed(*batch, stored, error, ids); },
            Qt::QueuedConnection);
    });
}

void BoardKeeper::finishPending()
{
    for (;;) {
        m_writer.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
        if (m_committing)
            continue;
        if (m_pending.empty())
            return;
        startCommit();
    }
}

void BoardKeeper::followChanges()
{
    if (m_following)
        return;
    m_following = true;
    // On the writer's thread, between batches: its connection sees other connections' commits.
    m_writer.start([this] {
        ScoreStore::Changes changes = m_store.changes();
        // The best after the changes, and its row, read here on the writer's thread.
        std::optional<ScoreEntry> best;
        if (changes.any()) {
            std::optional<ScoreKey> first;
            if (changes.all) {
                if (!changes.all->empty())
                    first = *std::min_element(changes.all->begin(), changes.all->end());
            } else {
                first =
                    m_index.read([&changes](const ScoreIndex &index) -> std::optional<ScoreKey> {
                        const auto gone = [&changes](const ScoreKey &key) {
                            return std::find(changes.removed.begin(), changes.removed.end(), key) !=
                                   changes.removed.end();
                        };
                        for (const ScoreKey &key :
                             index.slice(0, static_cast<qint64>(changes.removed.size()) + 1)) {
                            if (!gone(key))
                                return key;
                        }
                        return std::nullopt;
                    });
                for (const ScoreKey &key : changes.added) {
                    if (!first || key < *first)
                        first = key;
                }
            }
            if (first)
                best = m_store.entry(first->id);
        }
        QMetaObject::invokeMethod(
            this,
            [this, changes = std::move(changes), best] {
                m_following = false;
                if (!changes.any())
                    return;
                const std::optional<ScoreKey> first = m_index.write([&changes](ScoreIndex &index) {
                    if (changes.all)
                        index.assign(*changes.all);
                    for (const ScoreKey &key : changes.removed)
                        index.remove(key);
                    for (const ScoreKey &key : changes.added)
                        index.insert(key);
                    return index.first();
                });
                if (!first)
                    m_best.reset();
                else if (best && best->id == first->id)
                    m_best = best;
                else if (!m_best || m_best->id != first->id)
                    refreshBest(first->id); // scores came in meanwhile
            },
            Qt::QueuedConnection);
    });
}

void BoardKeeper::refreshBest(qint64 id)
{
    m_writer.start([this, id] {
        const std::optional<ScoreEntry> best = m_store.entry(id);
        QMetaObject::invokeMethod(
            this,
            [this, best] {
                const auto first =
                    m_index.read([](const ScoreIndex &index) { return index.first(); });
                if (best && first && first->id == best->id)
                    m_best = best;
            },
            Qt::QueuedConnection);
    });
}

void BoardKeeper::committed(const std::vector<Pending> &batch, bool stored, const QString &error,
                            const std::vector<qint64> &ids)
{
    m_committing = false;
    if (!stored) {
        for (const Pending &pending : batch) {
            Outcome outcome;
            outcome.error = error;
            outcome.entry = pending.entry;
            pending.told(outcome);
        }
    } else {
        m_index.write([&](ScoreIndex &index) {
            for (std::size_t i = 0; i < batch.size() && i < ids.size(); ++i)
                index.insert({batch[i].entry.score, ids[i]});
            return 0;
        });
        for (std::size_t i = 0; i < batch.size(); ++i) {
            Outcome outcome;
            outcome.stored = true;
            outcome.entry = batch[i].entry;
            outcome.entry.id = i < ids.size() ? ids[i] : 0;
            if (!m_best || outcome.entry.score < m_best->score)
                m_best = outcome.entry;
            outcome.best = *m_best;
            std::tie(outcome.place, outcome.count) =
                m_index.read([&outcome](const ScoreIndex &index) {
                    return std::pair(index.countBelow(outcome.entry.score) + 1, index.size());
                });
            batch[i].told(outcome);
        }
    }
    // What fell quiet while the disk was busy forms the next batch.
    startCommit();
}

// Every score on the board in board order (score, then the row's id), kept in step with the
// table, so that the total, the place a score takes and the entries at any position are found in
// O(log n) without counting rows. Blocks of sorted keys, with a Fenwick tree over the blocks'
// sizes: a position is a prefix sum over blocks and a search within one.
//
// SharedScoreIndex is the one the daemon's threads share: the thread that stores scores writes
// it, the web thread reads it; each read is one consistent look at it.
#pragma once

#include <QtGlobal>

#include <compare>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <vector>

// The places of consecutive entries of the board, whose scores are given in board order: the
// first is at zero-based position `from` and has the place `firstPlace`; an entry whose score
// equals the one before shares its place, any other takes the place its position gives it.
std::vector<qint64> boardPlaces(const std::vector<double> &scores, qint64 from, qint64 firstPlace);

struct ScoreKey
{
    double score = 0.0;
    qint64 id = 0;

    // clang-tidy 14 takes the defaulted comparison's zero for a null pointer.
    // NOLINTBEGIN(modernize-use-nullptr)
    friend auto operator<=>(const ScoreKey &, const ScoreKey &) = default;
    // NOLINTEND(modernize-use-nullptr)
};

class ScoreIndex
{
public:
    // Keys in any order.
    void assign(std::vector<ScoreKey> keys);
    void insert(const ScoreKey &key);
    // False when there was no such key.
    bool remove(const ScoreKey &key);

    qint64 size() const { return m_size; }
    // How many keys come before this one; a key's place on the board is found from its score.
    qint64 position(const ScoreKey &key) const;
    // How many scores are strictly lower (better): a score's place is this plus one.
    qint64 countBelow(double score) const;
    // The keys at positions from .. from + count - 1, those that exist.
    std::vector<ScoreKey> slice(qint64 from, qint64 count) const;
    std::optional<ScoreKey> first() const;
    // What the index takes per key, blocks and tree included, for the memory it costs.
    double bytesPerKey() const;

private:
    static constexpr std::size_t BlockSize = 256; // a block splits at twice this

    std::size_t blockFor(const ScoreKey &key) const;
    qint64 sizeBefore(std::size_t block) const;
    void rebuildTree();
    void treeAdd(std::size_t block, qint64 delta);

    std::vector<std::vector<ScoreKey>> m_blocks; // never empty ones
    std::vector<qint64> m_tree;                  // Fenwick tree of the blocks' sizes
    qint64 m_size = 0;
};

// The index, a lock around it, and the keys a read took.
class SharedScoreIndex
{
public:
    // Runs f(const ScoreIndex &) with the index held still.
    template<typename F> auto read(F &&f) const
    {
        const std::shared_lock lock(m_mutex);
        return f(m_index);
    }
    template<typename F> auto write(F &&f)
    {
        const std::unique_lock lock(m_mutex);
        return f(m_index);
    }

private:
    mutable std::shared_mutex m_mutex;
    ScoreIndex m_index;
};

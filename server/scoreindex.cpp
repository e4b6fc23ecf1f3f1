#include "scoreindex.h"

#include <algorithm>
#include <limits>

void ScoreIndex::assign(std::vector<ScoreKey> keys)
{
    std::sort(keys.begin(), keys.end());
    m_blocks.clear();
    m_size = static_cast<qint64>(keys.size());
    for (std::size_t first = 0; first < keys.size(); first += BlockSize) {
        const std::size_t last = std::min(keys.size(), first + BlockSize);
        m_blocks.emplace_back(keys.begin() + static_cast<std::ptrdiff_t>(first),
                              keys.begin() + static_cast<std::ptrdiff_t>(last));
    }
    rebuildTree();
}

// The block a key belongs in: the first whose last key is not below it, else the last block.
std::size_t ScoreIndex::blockFor(const ScoreKey &key) const
{
    const auto found = std::lower_bound(
        m_blocks.begin(), m_blocks.end(), key,
        [](const std::vector<ScoreKey> &block, const ScoreKey &k) { return block.back() < k; });
    if (found == m_blocks.end())
        return m_blocks.size() - 1;
    return static_cast<std::size_t>(found - m_blocks.begin());
}

void ScoreIndex::rebuildTree()
{
    m_tree.assign(m_blocks.size() + 1, 0);
    for (std::size_t b = 0; b < m_blocks.size(); ++b) {
        // Each node adds itself to its parent: the whole tree in one pass.
        const std::size_t i = b + 1;
        m_tree[i] += static_cast<qint64>(m_blocks[b].size());
        const std::size_t parent = i + (i & (~i + 1));
        if (parent < m_tree.size())
            m_tree[parent] += m_tree[i];
    }
}

void ScoreIndex::treeAdd(std::size_t block, qint64 delta)
{
    for (std::size_t i = block + 1; i < m_tree.size(); i += i & (~i + 1))
        m_tree[i] += delta;
}

qint64 ScoreIndex::sizeBefore(std::size_t block) const
{
    qint64 sum = 0;
    for (std::size_t i = block; i > 0; i -= i & (~i + 1))
        sum += m_tree[i];
    return sum;
}

void ScoreIndex::insert(const ScoreKey &key)
{
    ++m_size;
    if (m_blocks.empty()) {
        m_blocks.push_back({key});
        rebuildTree();
        return;
    }
    const std::size_t b = blockFor(key);
    std::vector<ScoreKey> &block = m_blocks[b];
    block.insert(std::upper_bound(block.begin(), block.end(), key), key);
    if (block.size() < 2 * BlockSize) {
        treeAdd(b, 1);
        return;
    }
    std::vector<ScoreKey> upper(block.begin() + BlockSize, block.end());
    block.resize(BlockSize);
    m_blocks.insert(m_blocks.begin() + static_cast<std::ptrdiff_t>(b) + 1, std::move(upper));
    rebuildTree();
}

bool ScoreIndex::remove(const ScoreKey &key)
{
    if (m_blocks.empty())
        return false;
    const std::size_t b = blockFor(key);
    std::vector<ScoreKey> &block = m_blocks[b];
    const auto found = std::lower_bound(block.begin(), block.end(), key);
    if (found == block.end() || *found != key)
        return false;
    block.erase(found);
    --m_size;
    if (block.empty()) {
        m_blocks.erase(m_blocks.begin() + static_cast<std::ptrdiff_t>(b));
        rebuildTree();
    } else {
        treeAdd(b, -1);
    }
    return true;
}

qint64 ScoreIndex::position(const ScoreKey &key) const
{
    if (m_blocks.empty())
        return 0;
    const std::size_t b = blockFor(key);
    const std::vector<ScoreKey> &block = m_blocks[b];
    return sizeBefore(b) + (std::lower_bound(block.begin(), block.end(), key) - block.begin());
}

qint64 ScoreIndex::countBelow(double score) const
{
    return position({score, std::numeric_limits<qint64>::min()});
}

std::vector<ScoreKey> ScoreIndex::slice(qint64 from, qint64 count) const
{
    std::vector<ScoreKey> keys;
    if (from < 0 || from >= m_size || count <= 0)
        return keys;
    // The block that holds position from: down the tree, as for a Fenwick search.
    std::size_t node = 0;
    qint64 before = 0;
    std::size_t step = 1;
    while (step * 2 < m_tree.size())
        step *= 2;
    for (; step > 0; step /= 2) {
        if (node + step < m_tree.size() && before + m_tree[node + step] <= from) {
            node += step;
            before += m_tree[node];
        }
    }
    std::size_t b = node; // blocks 0 .. node - 1 hold `before` keys
    std::size_t at = static_cast<std::size_t>(from - before);
    keys.reserve(static_cast<std::size_t>(std::min(count, m_size - from)));
    for (; b < m_blocks.size() && static_cast<qint64>(keys.size()) < count; ++b, at = 0) {
        const std::vector<ScoreKey> &block = m_blocks[b];
        for (; at < block.size() && static_cast<qint64>(keys.size()) < count; ++at)
            keys.push_back(block[at]);
    }
    return keys;
}

std::optional<ScoreKey> ScoreIndex::first() const
{
    if (m_blocks.empty())
        return std::nullopt;
    return m_blocks.front().front();
}

double ScoreIndex::bytesPerKey() const
{
    if (m_size == 0)
        return 0;
    std::size_t bytes =
        m_tree.capacity() * sizeof(qint64) + m_blocks.capacity() * sizeof(std::vector<ScoreKey>);
    for (const std::vector<ScoreKey> &block : m_blocks)
        bytes += block.capacity() * sizeof(ScoreKey);
    return static_cast<double>(bytes) / static_cast<double>(m_size);
}

std::vector<qint64> boardPlaces(const std::vector<double> &scores, qint64 from, qint64 firstPlace)
{
    std::vector<qint64> places;
    places.reserve(scores.size());
    for (std::size_t i = 0; i < scores.size(); ++i) {
        if (i == 0)
            places.push_back(firstPlace);
        else if (scores[i] == scores[i - 1])
            places.push_back(places.back());
        else
            places.push_back(from + static_cast<qint64>(i) + 1);
    }
    return places;
}

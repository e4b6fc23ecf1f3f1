#include "rankindex.h"

#include <algorithm>

void RankIndex::assign(std::vector<double> scores)
{
    std::sort(scores.begin(), scores.end());
    m_blocks.clear();
    m_size = static_cast<qsizetype>(scores.size());
    for (std::size_t first = 0; first < scores.size(); first += BlockSize) {
        const std::size_t last = std::min(scores.size(), first + BlockSize);
        m_blocks.emplace_back(scores.begin() + static_cast<std::ptrdiff_t>(first),
                              scores.begin() + static_cast<std::ptrdiff_t>(last));
    }
}

void RankIndex::insert(double score)
{
    if (m_blocks.empty())
        m_blocks.emplace_back();
    // The first block whose highest score is not below the new one, else the last block.
    auto block =
        std::find_if(m_blocks.begin(), m_blocks.end(), [score](const std::vector<double> &b) {
            return !b.empty() && b.back() >= score;
        });
    if (block == m_blocks.end() || block->empty())
        block = m_blocks.end() - 1;
    block->insert(std::upper_bound(block->begin(), block->end(), score), score);
    ++m_size;
    if (block->size() >= 2 * BlockSize) {
        std::vector<double> upper(block->begin() + BlockSize, block->end());
        block->resize(BlockSize);
        m_blocks.insert(block + 1, std::move(upper));
    }
}

qsizetype RankIndex::countBelow(double score) const
{
    qsizetype below = 0;
    for (const std::vector<double> &block : m_blocks) {
        if (block.empty() || block.back() < score) {
            below += static_cast<qsizetype>(block.size());
            continue;
        }
        below += std::lower_bound(block.begin(), block.end(), score) - block.begin();
        break;
    }
    return below;
}

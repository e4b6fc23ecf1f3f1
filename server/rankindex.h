// Every score on the board, kept sorted in memory so that each reply can say where a new score
// stands without counting the database's rows: blocks of sorted scores, so inserting and ranking
// cost a short walk over the blocks and a search in one of them, even with millions of scores.
#pragma once

#include <QtGlobal>

#include <vector>

class RankIndex
{
public:
    // Scores in any order.
    void assign(std::vector<double> scores);
    void insert(double score);
    // How many scores are strictly lower (better); a score's place on the board is this plus one.
    qsizetype countBelow(double score) const;
    qsizetype size() const { return m_size; }

private:
    static constexpr std::size_t BlockSize = 512;

    std::vector<std::vector<double>> m_blocks;
    qsizetype m_size = 0;
};

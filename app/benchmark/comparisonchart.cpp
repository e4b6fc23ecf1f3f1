#include "benchmark/comparisonchart.h"

void ComparisonChart::next()
{
    if (comparisonStep == 0) {
        for (int entry = 1; entry <= Entries; ++entry)
            m_setEntryVisible(entry, false);
    }
    ++comparisonStep;
    if (comparisonStep == 1) {
        m_setEntryVisible(1, true);
    } else {
        m_setEntryVisible(comparisonStep - 1, false);
        m_setEntryVisible(comparisonStep, true);
    }
    if (comparisonStep == Entries)
        comparisonStep = 0;
}

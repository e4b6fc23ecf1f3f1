// Paging through the reference machines of the comparison chart, one at a time, in ascending
// time. The first step after loading shows entry 1; the ninth shows entry 9 and wraps, so the
// tenth shows entry 1 again.
#pragma once

#include <functional>

class ComparisonChart
{
public:
    static constexpr int Entries = 9;

    // setEntryVisible(n, visible) shows or hides reference entry n, 1 to 9.
    explicit ComparisonChart(std::function<void(int, bool)> setEntryVisible)
        : m_setEntryVisible(std::move(setEntryVisible))
    {}

    void reset() { comparisonStep = 0; }
    void next();

    // 0 when no entry has been shown since the last wrap.
    short comparisonStep = 0;

private:
    std::function<void(int, bool)> m_setEntryVisible;
};

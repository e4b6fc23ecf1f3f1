// Currency: the fixed-point type the benchmark run keeps its totals and its score in.
//
// A value is a count of ten-thousandths in a signed 64-bit integer, so every total of displayed
// times is exact to four decimal places. Conversion from a double rounds to the nearest
// ten-thousandth with ties to even; sums and products with whole numbers are exact and saturate
// instead of wrapping at the ends of the range.
#pragma once

#include <QtGlobal>

class Currency
{
public:
    static constexpr qint64 Scale = 10000;

    constexpr Currency() = default;
    static constexpr Currency fromRaw(qint64 tenThousandths) { return Currency(tenThousandths); }
    static Currency fromDouble(double value);

    constexpr qint64 raw() const { return m_raw; }
    double toDouble() const { return static_cast<double>(m_raw) / Scale; }

    Currency operator+(Currency other) const;
    Currency operator*(qint64 factor) const;

    friend constexpr bool operator==(Currency, Currency) = default;

private:
    constexpr explicit Currency(qint64 raw) : m_raw(raw) {}
    qint64 m_raw = 0;
};

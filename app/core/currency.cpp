#include "core/currency.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace {
constexpr qint64 Max = std::numeric_limits<qint64>::max();
constexpr qint64 Min = std::numeric_limits<qint64>::min();
} // namespace

Currency Currency::fromDouble(double value)
{
    if (std::isnan(value))
        return {};
    // nearbyint rounds in the current mode, which is round-to-nearest-even unless someone
    // changed it; make sure of it for the duration of the conversion.
    const int mode = std::fegetround();
    if (mode != FE_TONEAREST)
        std::fesetround(FE_TONEAREST);
    const double scaled = std::nearbyint(value * Scale);
    if (mode != FE_TONEAREST)
        std::fesetround(mode);
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (scaled >= 9223372036854775808.0)
        return Currency(Max);
    if (scaled < -9223372036854775808.0)
        return Currency(Min);
    return Currency(static_cast<qint64>(scaled));
}

Currency Currency::operator+(Currency other) const
{
    qint64 sum = 0;
    if (__builtin_add_overflow(m_raw, other.m_raw, &sum))
        return Currency(other.m_raw > 0 ? Max : Min);
    return Currency(sum);
}

Currency Currency::operator*(qint64 factor) const
{
    qint64 product = 0;
    if (__builtin_mul_overflow(m_raw, factor, &product))
        return Currency((m_raw < 0) != (factor < 0) ? Min : Max);
    return Currency(product);
}

#include "core/numbertext.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

QString doubleText(double value, const QLocale &locale)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    if (value == 0.0)
        return QStringLiteral("0");

    // %.14e gives exactly 15 significant digits, correctly rounded, and the decimal exponent.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.14e", value);
    const char *p = buffer;
    const bool negative = *p == '-';
    if (negative)
        ++p;
    QString digits;
    for (; *p && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            digits.append(QLatin1Char(*p));
    }
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    while (digits.size() > 1 && digits.endsWith(QLatin1Char('0')))
        digits.chop(1);

    const QString separator = locale.decimalPoint();
    QString text;
    if (exponent >= digits.size() - 1) {
        text = digits + QString(exponent - (digits.size() - 1), QLatin1Char('0'));
    } else if (exponent >= 0) {
        text = digits.left(exponent + 1) + separator + digits.mid(exponent + 1);
    } else {
        text = QLatin1Char('0') + separator + QString(-exponent - 1, QLatin1Char('0')) + digits;
    }
    return negative ? QLatin1Char('-') + text : text;
}

QString currencyText(Currency value, const QLocale &locale)
{
    const qint64 raw = value.raw();
    const bool negative = raw < 0;
    const quint64 magnitude = negative ? 0 - static_cast<quint64>(raw) : static_cast<quint64>(raw);
    const quint64 whole = magnitude / Currency::Scale;
    QString fraction =
        QStringLiteral("%1").arg(magnitude % Currency::Scale, 4, 10, QLatin1Char('0'));
    while (fraction.endsWith(QLatin1Char('0')))
        fraction.chop(1);
    QString text = QString::number(whole);
    if (!fraction.isEmpty())
        text += locale.decimalPoint() + fraction;
    return negative ? QLatin1Char('-') + text : text;
}

std::optional<double> readNumber(const QString &text, const QLocale &locale)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    QLocale strict = locale;
    strict.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = strict.toDouble(trimmed, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<Currency> readCurrency(const QString &text, const QLocale &locale)
{
    if (const auto value = readNumber(text, locale))
        return Currency::fromDouble(*value);
    return std::nullopt;
}

std::optional<qint64> wholeNumber(QStringView text, qint64 lowest, qint64 highest)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

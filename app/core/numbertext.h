// Number texts: how the benchmark writes numbers into its fields and reads them back.
//
// The run keeps every result as text in a window field and forms each total by reading those
// texts back, so writing and reading must be exact inverses under the user's locale (the default
// QLocale, which main() sets from the system). A double is written with at most 15 significant
// digits in plain decimal notation, a Currency with at most four decimals; neither carries trailing
// zeros, a trailing separator or thousands separators.
#pragma once

#include "core/currency.h"

#include <QLocale>
#include <QString>

#include <optional>

QString doubleText(double value, const QLocale &locale = QLocale());
QString currencyText(Currency value, const QLocale &locale = QLocale());

// The whole text, blanks around it ignored, as a finite decimal number in the locale: optional
// sign, fraction and exponent; no thousands separators. Anything else gives no value.
std::optional<double> readNumber(const QString &text, const QLocale &locale = QLocale());
std::optional<Currency> readCurrency(const QString &text, const QLocale &locale = QLocale());

// A whole number written in ASCII digits alone (no sign, no blanks, at most 18 digits), within
// [lowest, highest]; anything else gives no value. For counts, ports and limits given as text.
std::optional<qint64> wholeNumber(QStringView text, qint64 lowest, qint64 highest);

// The time of day as the run log shows it: the user's long time format, without a time zone.
#pragma once

#include <QLocale>
#include <QString>
#include <QTime>

QString timeText(const QTime &time = QTime::currentTime(), const QLocale &locale = QLocale());

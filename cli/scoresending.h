// orvane-bench's score sent to a score server the way the submission window sends it.
#pragma once

#include "benchoptions.h"
#include "report.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// Whether the server named for --submit can be found, before any cycle runs.
std::optional<QString> serverProblem(const BenchOptions &options);

// Sends the run's score when the run ended cleanly with one, and says what happened, for the
// report; *status becomes 1 when the score was not sent or not thanked for. The wait for the
// server's reply ends early once stopped() is true.
QJsonObject sendScore(const BenchReport &report, int *status, const std::function<bool()> &stopped);

// The board as orvane-scored --top prints it: place (shared by equal scores), score, nickname,
// time of submission, one line each under a heading.
#pragma once

#include "scorestore.h"

#include <QString>

#include <vector>

QString leaderboardText(const std::vector<ScoreEntry> &entries);

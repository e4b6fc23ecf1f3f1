#include "leaderboardtext.h"

#include "scoreindex.h"

#include <algorithm>

QString leaderboardText(const std::vector<ScoreEntry> &entries)
{
    if (entries.empty())
        return QStringLiteral("No scores yet.\n");
    qsizetype scoreWidth = 9;
    qsizetype nameWidth = 8;
    for (const ScoreEntry &entry : entries) {
        scoreWidth = std::max(scoreWidth, entry.scoreText.size() + 2);
        nameWidth = std::max(nameWidth, entry.nickname.size());
    }
    const auto row = [&](const QString &place, const QString &score, const QString &name,
                         const QString &when) -> QString {
        return place.rightJustified(5) + QStringLiteral("  ") + score.leftJustified(scoreWidth) +
               QStringLiteral("  ") + name.leftJustified(nameWidth) + QStringLiteral("  ") + when +
               QLatin1Char('\n');
    };
    QString text = row(QStringLiteral("Place"), QStringLiteral("Score"), QStringLiteral("Nickname"),
                       QStringLiteral("Submitted (UTC)"));
    std::vector<double> scores;
    scores.reserve(entries.size());
    for (const ScoreEntry &entry : entries)
        scores.push_back(entry.score);
    const std::vector<qint64> places = boardPlaces(scores, 0, 1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const ScoreEntry &entry = entries[i];
        text += row(QStringLiteral("#%1").arg(places[i]), entry.scoreText + QStringLiteral(" s"),
                    entry.nickname,
                    entry.submitted.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    }
    return text;
}

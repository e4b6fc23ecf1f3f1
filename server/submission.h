// Reading a score submission as the Orvane client sends it: the score text, eleven blanks, "By ",
// the nickname and then "data", with no framing. The bytes arrive in pieces, so the reader says
// for any prefix whether it is still on its way, already has a submission's shape (and only needs
// the sender to fall quiet), or can never become one, and why.
#pragma once

#include "core/scoreprotocol.h"

#include <QByteArray>
#include <QString>

#include <variant>

namespace submission {

inline constexpr qsizetype MaxNicknameLength = ScoreProtocol::MaxNicknameLength;
inline constexpr double MaxScore = ScoreProtocol::MaxScore;
inline constexpr qsizetype MaxScoreLength = 16; // characters of the score text

struct Accepted
{
    double score = 0;
    QString scoreText; // as read, with a comma written as a point
    QString nickname;
};

struct Rejected
{
    QString reason;        // a sentence, e.g. "no nickname."
    bool tooLarge = false; // longer than a submission can be: its score or its nickname
};

enum class Progress
{
    Partial,  // can still become a submission: wait for more bytes
    Complete, // has the whole shape: take it once the sender falls quiet
    Invalid,  // can never become a submission, whatever follows
};

struct Assessment
{
    Progress progress = Progress::Partial;
    QString reason;        // why, when Invalid
    bool tooLarge = false; // when Invalid: because it is longer than a submission can be
};

// Where the bytes received so far stand.
Assessment assess(const QByteArray &bytes);

// Whether the bytes begin a submission: a score and the separator after it have arrived, and
// nothing so far rules it out.
bool begun(const QByteArray &bytes);

// The verdict on everything a connection sent, once it sent no more.
std::variant<Accepted, Rejected> read(const QByteArray &bytes);

// The score as a number of seconds: at most MaxScoreLength digits with at most one point or
// comma, from 0 to MaxScore exactly.
std::variant<double, Rejected> readScore(const QByteArray &text);

} // namespace submission

#include "submission.h"

#include "core/scoreprotocol.h"

#include <QChar>

namespace submission {
namespace {

const QByteArray Separator = QByteArray(ScoreProtocol::Separator);
const QByteArray End = QByteArray(ScoreProtocol::EndMarker);

QString notASubmission()
{
    return QStringLiteral("not a score submission (expected a score, eleven blanks, \"By \", a "
                          "nickname and \"data\").");
}

QString blankAtAnEnd()
{
    return QStringLiteral("the nickname begins or ends with a blank.");
}

QString tooLong()
{
    return QStringLiteral("the nickname is longer than %1 characters.").arg(MaxNicknameLength);
}

struct Text
{
    qsizetype characters = 0;
    QString problem; // empty when the bytes are acceptable nickname text
};

// Counts the characters of UTF-8 text and finds what a nickname may not hold. A sequence cut
// off at the very end is allowed when more bytes may follow.
Text readText(const QByteArray &bytes, bool mayContinue)
{
    Text text;
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size;) {
        const unsigned char lead = data[i];
        char32_t code = 0;
        int length = 0;
        if (lead < 0x80) {
            code = lead;
            length = 1;
        } else if (lead >= 0xc2 && lead <= 0xdf) {
            code = lead & 0x1f;
            length = 2;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            code = lead & 0x0f;
            length = 3;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            code = lead & 0x07;
            length = 4;
        } else {
            text.problem = QStringLiteral("the nickname is not UTF-8 text.");
            return text;
        }
        if (i + length > size) {
            bool continuation = true;
            for (qsizetype j = i + 1; j < size; ++j)
                continuation = continuation && (data[j] & 0xc0) == 0x80;
            if (!mayContinue || !continuation)
                text.problem = QStringLiteral("the nickname is not UTF-8 text.");
            return text;
        }
        for (int j = 1; j < length; ++j) {
            if ((data[i + j] & 0xc0) != 0x80) {
                text.problem = QStringLiteral("the nickname is not UTF-8 text.");
                return text;
            }
            code = (code << 6) | (data[i + j] & 0x3f);
        }
        const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        if (overlong || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            text.problem = QStringLiteral("the nickname is not UTF-8 text.");
            return text;
        }
        if (code < 0x20 || (code >= 0x7f && code <= 0x9f)) {
            text.problem = QStringLiteral("the nickname holds control characters.");
            return text;
        }
        // Characters that show nothing or move the text around (direction overrides, zero-width
        // joiners, byte-order marks, line and paragraph separators, spaces other than the plain
        // blank) would let a nickname pass for another on the board.
        switch (QChar::category(code)) {
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            text.problem = QStringLiteral("the nickname holds invisible or formatting characters.");
            return text;
        case QChar::Separator_Space:
            if (code != ' ') {
                text.problem =
                    QStringLiteral("the nickname holds invisible or formatting characters.");
                return text;
            }
            break;
        default:
            break;
        }
        ++text.characters;
        i += length;
    }
    return text;
}

bool printableWord(const QByteArray &bytes)
{
    for (const char byte : bytes)
        if (byte < 0x21 || byte > 0x7e)
            return false;
    return true;
}

} // namespace

// Whether the decimal text (digits with at most one point) stands for more than MaxScore,
// decided on the digits themselves: converted to a double first, 100000.00000000000001 would
// round to the highest score.
bool aboveMaxScore(const QByteArray &digits)
{
    const qsizetype point = digits.indexOf('.');
    QByteArray whole = point < 0 ? digits : digits.left(point);
    const QByteArray fraction = point < 0 ? QByteArray() : digits.mid(point + 1);
    while (whole.startsWith('0'))
        whole.remove(0, 1);
    const QByteArray highest = QByteArray::number(qint64(MaxScore));
    if (whole.size() != highest.size())
        return whole.size() > highest.size();
    if (whole != highest)
        return whole > highest;
    return fraction.count('0') != fraction.size();
}

std::variant<double, Rejected> readScore(const QByteArray &text)
{
    if (text.isEmpty())
        return Rejected{QStringLiteral("no score.")};
    if (text.size() > MaxScoreLength)
        return Rejected{
            QStringLiteral("the score is longer than %1 characters.").arg(MaxScoreLength), true};
    const bool negative = text.startsWith('-');
    const QByteArray number = negative ? text.mid(1) : text;
    int digits = 0;
    int separators = 0;
    for (const char byte : number) {
        if (byte >= '0' && byte <= '9')
            ++digits;
        else if (byte == '.' || byte == ',')
            ++separators;
        else
            return Rejected{QStringLiteral("the score is not a number.")};
    }
    if (digits == 0 || separators > 1)
        return Rejected{QStringLiteral("the score is not a number.")};
    const QByteArray decimal = QByteArray(number).replace(',', '.');
    bool ok = false;
    const double value = decimal.toDouble(&ok);
    if (!ok)
        return Rejected{QStringLiteral("the score is not a number.")};
    if (negative)
        return Rejected{QStringLiteral("the score is negative; it must be from 0 to %1 seconds.")
                            .arg(MaxScore)};
    if (aboveMaxScore(decimal))
        return Rejected{
            QStringLiteral("the score is above %1 seconds; it must be from 0 to %1 seconds.")
                .arg(MaxScore)};
    return value;
}

Assessment assess(const QByteArray &bytes)
{
    const qsizetype separator = bytes.indexOf(Separator);
    if (separator < 0) {
        // Still in the score, or in the blanks after it.
        const qsizetype blank = bytes.indexOf(' ');
        const QByteArray score = blank < 0 ? bytes : bytes.left(blank);
        if (!printableWord(score))
            return {Progress::Invalid, notASubmission()};
        if (score.size() > MaxScoreLength)
            return {Progress::Invalid, std::get<Rejected>(readScore(score)).reason, true};
        if (blank < 0)
            return {};
        if (!Separator.startsWith(bytes.mid(blank)))
            return {Progress::Invalid, notASubmission()};
        if (const auto scoreRead = readScore(score); std::holds_alternative<Rejected>(scoreRead))
            return {Progress::Invalid, std::get<Rejected>(scoreRead).reason};
        return {};
    }

    if (const auto scoreRead = readScore(bytes.left(separator));
        std::holds_alternative<Rejected>(scoreRead)) {
        const Rejected &rejected = std::get<Rejected>(scoreRead);
        return {Progress::Invalid, rejected.reason, rejected.tooLarge};
    }
    const QByteArray rest = bytes.mid(separator + Separator.size());
    const Text text = readText(rest, true);
    if (!text.problem.isEmpty())
        return {Progress::Invalid, text.problem};
    // "kim " would show on the board as "kim": a blank may only stand between other characters.
    if (rest.startsWith(' '))
        return {Progress::Invalid, blankAtAnEnd()};
    if (rest.endsWith(End)) {
        // Whatever follows can only lengthen the nickname.
        if (text.characters - End.size() > MaxNicknameLength)
            return {Progress::Invalid, tooLong(), true};
        return {Progress::Complete, {}};
    }
    // At the least the last three bytes may turn out to be the start of "data".
    if (text.characters - (End.size() - 1) > MaxNicknameLength)
        return {Progress::Invalid, tooLong(), true};
    return {};
}

bool begun(const QByteArray &bytes)
{
    return bytes.contains(Separator) && assess(bytes).progress != Progress::Invalid;
}

std::variant<Accepted, Rejected> read(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return Rejected{QStringLiteral("nothing was sent.")};
    const Assessment assessment = assess(bytes);
    if (assessment.progress == Progress::Invalid)
        return Rejected{assessment.reason, assessment.tooLarge};
    const qsizetype separator = bytes.indexOf(Separator);
    if (separator < 0)
        return Rejected{notASubmission()};
    if (assessment.progress == Progress::Partial)
        return Rejected{QStringLiteral("the submission does not end in \"data\".")};

    const QByteArray scoreText = bytes.left(separator);
    const QByteArray nickname = bytes.mid(separator + Separator.size()).chopped(End.size());
    if (nickname.isEmpty())
        return Rejected{QStringLiteral("no nickname.")};
    if (nickname.endsWith(' '))
        return Rejected{blankAtAnEnd()};
    Accepted accepted;
    accepted.score = std::get<double>(readScore(scoreText));
    accepted.scoreText = QString::fromLatin1(scoreText).replace(QLatin1Char(','), QLatin1Char('.'));
    accepted.nickname = QString::fromUtf8(nickname);
    return accepted;
}

} // namespace submission

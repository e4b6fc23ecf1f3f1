// libFuzzer target: the reader of score submissions, on any bytes a peer can send.
//
// Besides not crashing, what it accepts must be a submission by the rules: complete, a score
// within range, a nickname of one to ten characters that holds no control, formatting or
// separator characters, nor a blank at either end; and every prefix of it must have been on its
// way, never refused.
#include "submission.h"

#include <QChar>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const submission::Assessment assessment = submission::assess(bytes);
    const auto verdict = submission::read(bytes);
    const auto *accepted = std::get_if<submission::Accepted>(&verdict);
    if (!accepted) {
        require(!std::get<submission::Rejected>(verdict).reason.isEmpty());
        return 0;
    }
    require(assessment.progress == submission::Progress::Complete);
    require(accepted->score >= 0.0 && accepted->score <= submission::MaxScore);
    require(accepted->scoreText.size() <= submission::MaxScoreLength);
    const QList<uint> characters = accepted->nickname.toUcs4();
    require(!characters.isEmpty() && characters.size() <= submission::MaxNicknameLength);
    require(!accepted->nickname.startsWith(QLatin1Char(' ')) &&
            !accepted->nickname.endsWith(QLatin1Char(' ')));
    for (const uint c : characters) {
        const QChar::Category category = QChar::category(char32_t(c));
        require(category != QChar::Other_Control && category != QChar::Other_Format &&
                category != QChar::Separator_Line && category != QChar::Separator_Paragraph);
    }
    for (qsizetype length = 0; length < bytes.size(); ++length)
        require(submission::assess(bytes.left(length)).progress != submission::Progress::Invalid);
    return 0;
}

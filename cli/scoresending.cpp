#include "scoresending.h"

#include "submit/submissionclient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QHostInfo>

namespace {

// The submission window's part, played on the command line: the nickname and server come from
// the options, the reply and any message are kept to be reported.
class CommandLineSubmitView final : public SubmitView
{
public:
    CommandLineSubmitView(const BenchOptions &options, QString score)
        : m_options(options), m_score(std::move(score))
    {}

    QString nickname() const override { return m_options.nickname; }
    void setNickname(const QString &) override {}
    void focusNickname() override {}
    QString serverAddress() const override { return m_options.submitHost; }
    QString serverPort() const override { return QString::number(m_options.submitPort); }
    QString score() const override { return m_score; }
    void setReply(const QString &text) override { reply = text; }
    void setProcessEnabled(bool) override {}
    void showMessage(const QString &text, const QString &, MessageIcon) override
    {
        if (problem.isEmpty())
            problem = text;
    }
    void letEventsRun() override { QCoreApplication::processEvents(); }
    void destroyControls() override { failed = true; }
    void hideWindow() override {}

    QString reply;
    QString problem;
    bool failed = false;

private:
    const BenchOptions &m_options;
    QString m_score;
};

struct Submission
{
    bool ok = false;
    QString reply;
    QString problem;
};

// Sent as the window sends it; a success only when the server thanks for it.
Submission submit(const BenchOptions &options, const QString &score,
                  const std::function<bool()> &stopped)
{
    CommandLineSubmitView view(options, score);
    SubmissionClient client(view, 1000, 5000, options.submitPort + 1);
    client.processResults();
    // The server answers with one line and closes; wait for both, a while at most.
    const QDeadlineTimer deadline(15000);
    while (
        !view.failed && !deadline.hasExpired() && !stopped() &&
        (view.reply.isEmpty() || client.socket().isConnected() || client.socket().isConnecting()))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    client.controlsDestroyed();
    Submission result;
    result.reply = view.reply.trimmed();
    result.problem = view.problem;
    result.ok = !view.failed && result.reply.startsWith(QLatin1String("Thanks"));
    if (!result.ok && result.problem.isEmpty())
        result.problem = result.reply.isEmpty()
                             ? QStringLiteral("the server did not answer")
                             : QStringLiteral("the server refused it: ") + result.reply;
    return result;
}

} // namespace

// Whether the server named for --submit can be found, before any cycle runs.
std::optional<QString> serverProblem(const BenchOptions &options)
{
    if (!options.submit || !QHostAddress(options.submitHost).isNull())
        return std::nullopt;
    const QHostInfo found = QHostInfo::fromName(options.submitHost);
    if (found.error() != QHostInfo::NoError || found.addresses().isEmpty())
        return QStringLiteral("cannot find the score server %1: %2")
            .arg(options.submitHost, found.errorString());
    return std::nullopt;
}

QJsonObject sendScore(const BenchReport &report, int *status, const std::function<bool()> &stopped)
{
    const BenchOptions &options = report.options;
    const QString server =
        options.submitHost + QLatin1Char(':') + QString::number(options.submitPort);
    const Score score = report.score();
    if (*status != 0 || score.text.isEmpty()) {
        if (*status == 0)
            *status = 1;
        return {{QStringLiteral("sent"), false},
                {QStringLiteral("server"), server},
                {QStringLiteral("problem"),
                 score.text.isEmpty() ? QStringLiteral("not sent: no cycle counts towards a score")
                                      : QStringLiteral("not sent: the run did not end cleanly")}};
    }
    const Submission sent = submit(options, score.text, stopped);
    QJsonObject submission{{QStringLiteral("sent"), sent.ok},
                           {QStringLiteral("server"), server},
                           {QStringLiteral("reply"), sent.reply}};
    if (!sent.ok) {
        submission.insert(QStringLiteral("problem"), sent.problem);
        *status = 1;
    }
    return submission;
}

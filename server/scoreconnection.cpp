#include "scoreconnection.h"

#include "listener.h"
#include "submission.h"

#include "core/scoreprotocol.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTimerEvent>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QString peerName(const QTcpSocket &socket)
{
    const QHostAddress address = plainAddress(socket.peerAddress());
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + address.toString() + QLatin1Char(']')
                             : address.toString();
    return host + QLatin1Char(':') + QString::number(socket.peerPort());
}

// Bytes from the network, shown in the log without control characters and not too long.
QString shown(const QByteArray &bytes)
{
    constexpr qsizetype Longest = 40;
    QString text;
    for (const char byte : bytes.left(Longest)) {
        const auto code = static_cast<unsigned char>(byte);
        if (code < 0x20 || code == 0x7f || code == '"' || code == '\\')
            text += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            text += QChar::fromLatin1(byte);
    }
    if (bytes.size() > Longest)
        text += QStringLiteral("...");
    // Multi-byte nicknames come out whole where the cut left them whole.
    const QString decoded = QString::fromUtf8(text.toLatin1());
    return decoded.contains(QChar::ReplacementCharacter) ? text : decoded;
}

// The score and nickname parts of whatever was sent, for the log.
std::pair<QString, QString> logFields(const QByteArray &bytes)
{
    static const QByteArray Separator(ScoreProtocol::Separator);
    static const QByteArray End(ScoreProtocol::EndMarker);
    const qsizetype separator = bytes.indexOf(Separator);
    if (separator < 0) {
        const qsizetype blank = bytes.indexOf(' ');
        return {bytes.isEmpty() ? QStringLiteral("-") : shown(bytes.left(blank)),
                QStringLiteral("-")};
    }
    QByteArray nickname = bytes.mid(separator + Separator.size());
    if (nickname.endsWith(End))
        nickname.chop(End.size());
    return {shown(bytes.left(separator)), QLatin1Char('"') + shown(nickname) + QLatin1Char('"')};
}

// How long an answered connection may take to close after its line.
constexpr int LingerMs = 5000;

// "1 second", "0.3 seconds", "15 seconds".
QString seconds(int milliseconds)
{
    return QString::number(milliseconds / 1000.0) +
           (milliseconds == 1000 ? QStringLiteral(" second") : QStringLiteral(" seconds"));
}

} // namespace

ScoreConnection::ScoreConnection(ConnectionHost &host, const ServerLimits &limits,
                                 QTcpSocket *socket, QString key, quint64 seat, QObject *parent)
    : QObject(parent), m_host(host), m_limits(limits), m_socket(socket), m_peer(peerName(*socket)),
      m_key(std::move(key)), m_seat(seat)
{
    m_age.start();
    socket->setParent(this);
    socket->setReadBufferSize(limits.maxBytes + 1);
    m_idleEnd = QDeadlineTimer(limits.idleMs, Qt::PreciseTimer);
    m_lifeEnd = QDeadlineTimer(limits.lifetimeMs, Qt::PreciseTimer);
    connect(socket, &QTcpSocket::readyRead, this, &ScoreConnection::readBytes);
    connect(socket, &QTcpSocket::disconnected, this, &ScoreConnection::peerClosed);
    arm();
    // Bytes, or the end, may have come while the connection waited for its place.
    QMetaObject::invokeMethod(
        this,
        [this] {
            readBytes();
            if (m_socket->state() == QAbstractSocket::UnconnectedState)
                peerClosed();
        },
        Qt::QueuedConnection);
}

ScoreConnection::~ScoreConnection()
{
    if (m_spare >= 0)
        ::close(m_spare);
    delete m_socket;
    m_host.closed(this);
}

bool ScoreConnection::heldWithoutCompleting(int holdMs) const
{
    return m_state == State::Reading && m_age.elapsed() >= holdMs;
}

bool ScoreConnection::begun() const
{
    return submission::begun(m_bytes);
}

void ScoreConnection::evict(int holdMs)
{
    reject(RejectReason::Evicted,
           begun() ? QStringLiteral("the submission was not complete within %1, and others are "
                                    "waiting.")
                         .arg(seconds(holdMs))
                   : QStringLiteral("no submission began within %1, and others are waiting.")
                         .arg(seconds(holdMs)));
}

void ScoreConnection::refuse(RejectReason why, const QString &reason)
{
    if (m_state == State::Reading)
        reject(why, reason);
}

void ScoreConnection::cutLinger()
{
    if (m_state == State::Answered)
        m_socket->abort();
}

void ScoreConnection::stopReading()
{
    if (m_state == State::Reading)
        reject(RejectReason::Stopping,
               QStringLiteral("the server is stopping; please try again in a moment."));
}

void ScoreConnection::answer(const QString &line)
{
    if (m_state == State::Answered)
        return;
    m_state = State::Answered;
    m_host.released(this);
    if (m_socket->state() != QAbstractSocket::ConnectedState) {
        // The peer ended its side after a whole submission: its direction is still open.
        if (m_spare >= 0) {
            const QByteArray bytes = line.toUtf8() + '\n';
            [[maybe_unused]] const ssize_t sent =
                ::send(m_spare, bytes.constData(), static_cast<std::size_t>(bytes.size()),
                       MSG_NOSIGNAL | MSG_DONTWAIT);
            ::shutdown(m_spare, SHUT_WR);
        }
        deleteLater();
        return;
    }
    // Closing with unread bytes from the peer would reset the connection and could drop the
    // line before it is read. So the server only ends its own side once the line is out,
    // reads and ignores whatever still comes, and waits for the peer to close.
    const auto endOwnSide = [this] {
        if (m_socket->bytesToWrite() == 0)
            ::shutdown(static_cast<int>(m_socket->socketDescriptor()), SHUT_WR);
    };
    connect(m_socket, &QTcpSocket::bytesWritten, this, endOwnSide);
    m_socket->write(line.toUtf8() + '\n');
    m_socket->flush(); // at once rather than on the next pass of the event loop
    endOwnSide();
    m_lifeEnd = QDeadlineTimer(LingerMs);
    arm();
}

void ScoreConnection::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    m_timer.stop();
    switch (m_state) {
    case State::Reading:
        // The deadlines in the order they rule: two of them end in the same way.
        if (m_quietEnd.hasExpired())
            quiet(); // NOLINT(bugprone-branch-clone)
        else if (m_lifeEnd.hasExpired())
            reject(RejectReason::TooSlow, QStringLiteral("the submission took longer than %1.")
                                              .arg(seconds(m_limits.lifetimeMs)));
        else if (m_idleEnd.hasExpired() && m_bytes.isEmpty())
            reject(RejectReason::Idle,
                   QStringLiteral("nothing arrived for %1.").arg(seconds(m_limits.idleMs)));
        else if (m_idleEnd.hasExpired())
            quiet(); // the sender has stopped: what it sent is all there is
        else
            arm();
        break;
    case State::Storing:
        break; // the batch answers it
    case State::Answered:
        if (m_lifeEnd.hasExpired())
            m_socket->abort(); // a peer that never takes its answer
        else
            arm();
        break;
    }
}

// One timer per connection, set for the nearest of its deadlines.
void ScoreConnection::arm()
{
    qint64 next = m_lifeEnd.remainingTime();
    if (m_state == State::Reading) {
        next = std::min(next, m_idleEnd.remainingTime());
        if (!m_quietEnd.isForever())
            next = std::min(next, m_quietEnd.remainingTime());
    }
    m_timer.start(static_cast<int>(std::max<qint64>(next, 0)), Qt::PreciseTimer, this);
}

void ScoreConnection::readBytes()
{
    if (m_state != State::Reading) {
        m_socket->readAll(); // one submission per connection; the rest is ignored
        return;
    }
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    // Qt closes a socket whose peer has ended its side. A peer that sends its submission and
    // then ends its side (as nc -N does) still waits for the answer on the other direction:
    // a second descriptor keeps that direction open.
    if (m_spare < 0)
        m_spare = ::fcntl(static_cast<int>(m_socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    m_bytes += bytes;
    m_idleEnd = QDeadlineTimer(m_limits.idleMs, Qt::PreciseTimer);
    // What the bytes say comes first: it does not depend on how they were cut into pieces.
    const submission::Assessment assessment = submission::assess(m_bytes);
    if (assessment.progress == submission::Progress::Invalid) {
        reject(assessment.tooLarge ? RejectReason::TooLarge : RejectReason::Invalid,
               assessment.reason);
        return;
    }
    // A backstop for the read buffer: no submission is this long, whatever its bytes say.
    if (m_bytes.size() > m_limits.maxBytes) {
        reject(RejectReason::TooLarge,
               QStringLiteral("more than %1 bytes.").arg(m_limits.maxBytes));
        return;
    }
    switch (assessment.progress) {
    case submission::Progress::Invalid:
        break;
    case submission::Progress::Complete:
        m_quietEnd = QDeadlineTimer(m_limits.quietMs, Qt::PreciseTimer);
        arm();
        break;
    case submission::Progress::Partial:
        m_quietEnd = QDeadlineTimer(QDeadlineTimer::Forever);
        arm();
        break;
    }
}

void ScoreConnection::quiet()
{
    const auto verdict = submission::read(m_bytes);
    if (const auto *rejected = std::get_if<submission::Rejected>(&verdict)) {
        reject(rejected->tooLarge ? RejectReason::TooLarge : RejectReason::Invalid,
               rejected->reason);
        return;
    }
    const auto &accepted = std::get<submission::Accepted>(verdict);
    m_state = State::Storing;
    ScoreEntry entry;
    entry.score = accepted.score;
    entry.scoreText = accepted.scoreText;
    entry.nickname = accepted.nickname;
    entry.peer = m_peer;
    entry.submitted = QDateTime::currentDateTimeUtc();
    m_host.queue(this, std::move(entry));
}

void ScoreConnection::reject(RejectReason why, const QString &reason)
{
    m_host.rejected(why);
    const auto [score, nickname] = logFields(m_bytes);
    m_host.log(m_peer, score, nickname, QStringLiteral("rejected: ") + reason);
    answer(QStringLiteral("Rejected: ") + reason);
}

void ScoreConnection::peerClosed()
{
    switch (m_state) {
    case State::Reading:
        if (m_bytes.isEmpty()) {
            m_state = State::Answered;
            m_host.released(this);
            deleteLater();
        } else if (submission::assess(m_bytes).progress == submission::Progress::Complete) {
            quiet(); // the end of the bytes ends the wait for more
        } else {
            reject(RejectReason::Incomplete,
                   QStringLiteral("the connection closed before the submission was "
                                  "complete."));
        }
        break;
    case State::Storing:
        break; // the batch answers, and so ends, this connection
    case State::Answered:
        deleteLater();
        break;
    }
}

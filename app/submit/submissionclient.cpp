#include "submit/submissionclient.h"

#include "core/blanks.h"

#include <QDeadlineTimer>
#include <QScopeGuard>
#include <QThread>

#include <algorithm>

namespace {
const QString Reserved[] = {QStringLiteral("NIMBU[S]"), QStringLiteral("NIMBU-S-"),
                            QStringLiteral("QOLMAR")};

QString withoutBlanks(QString text)
{
    return text.remove(QLatin1Char(' '));
}

} // namespace

ServerAddress parseServerAddress(const QString &text, const QString &defaultPort)
{
    const auto portOf = [](const QString &digits) {
        bool ok = false;
        const int port = digits.toInt(&ok);
        const bool plain =
            !digits.isEmpty() && std::all_of(digits.begin(), digits.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            });
        return ok && plain && port >= 1 && port <= 65535 ? port : 0;
    };
    const QString address = trimBlanks(text);
    const int defaultNumber = portOf(withoutBlanks(defaultPort));
    if (address.startsWith(QLatin1Char('['))) {
        const qsizetype close = address.indexOf(QLatin1Char(']'));
        if (close < 0)
            return {address, defaultNumber};
        const QString host = address.mid(1, close - 1);
        const QString rest = address.mid(close + 1);
        if (rest.isEmpty())
            return {host, defaultNumber};
        return {host, rest.startsWith(QLatin1Char(':')) ? portOf(rest.mid(1)) : 0};
    }
    // One colon separates a port; more are an IPv6 address of their own.
    if (address.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = address.indexOf(QLatin1Char(':'));
        return {address.left(colon), portOf(address.mid(colon + 1))};
    }
    return {address, defaultNumber};
}

bool isReservedNickname(const QString &nickname)
{
    const QString upper = nickname.toUpper();
    return std::any_of(std::begin(Reserved), std::end(Reserved),
                       [&upper](const QString &reserved) { return upper == reserved; });
}

SubmissionClient::SubmissionClient(SubmitView &view, int tickInterval, int connectWait,
                                   int reconnectPort)
    : m_view(view), m_connectWait(connectWait), m_reconnectPort(reconnectPort)
{
    m_idleTimer.setInterval(tickInterval);
    connect(&m_idleTimer, &QTimer::timeout, this, &SubmissionClient::idleTick);
    // A fast or endless stream is shown at most every 50 ms, each showing the latest arrival.
    m_replyTimer.setSingleShot(true);
    m_replyTimer.setInterval(50);
    connect(&m_replyTimer, &QTimer::timeout, this, [this] { m_view.setReply(m_reply); });
    connect(&m_socket, &ScoreSocket::dataArrival, this, &SubmissionClient::dataArrived);
    connect(&m_socket, &ScoreSocket::error, this, &SubmissionClient::socketError);
    // A reconnection still not established after the connection wait is given up. Qt retries a
    // connection the peer resets while it is being made, over and over without a word; against
    // such a server this bounds the attempts in time.
    m_reconnectWait.setSingleShot(true);
    m_reconnectWait.setInterval(m_connectWait);
    connect(&m_reconnectWait, &QTimer::timeout, this, [this] {
        if (m_socket.isConnecting())
            m_socket.close();
    });
}

void SubmissionClient::processResults()
{
    const QString nickname = m_view.nickname();
    if (nickname.isEmpty()) {
        m_view.showMessage(QStringLiteral("You must type in a nickname!"),
                           QStringLiteral("No Nickname!"), MessageIcon::None);
        return;
    }
    if (isReservedNickname(nickname)) {
        m_view.showMessage(QStringLiteral("Sorry, that nickname has been reserved."),
                           QStringLiteral("Reserved Nickname"), MessageIcon::Critical);
        m_view.setNickname(QString());
        m_view.focusNickname();
        return;
    }

    // One submission at a time: a click delivered while this one lets events run (waiting for
    // the connection, say) must not send the score a second time on the same connection.
    if (m_submitting)
        return;
    m_submitting = true;
    m_cancelled = false;
    const auto done = qScopeGuard([this] { m_submitting = false; });

    hangUp();
    m_idleTimer.start();
    const ServerAddress server = parseServerAddress(m_view.serverAddress(), m_view.serverPort());
    m_socket.setRemoteHost(server.host);
    m_socket.setRemotePort(server.port);
    m_socket.setLocalPort(0);
    m_reconnected = false;
    m_view.letEventsRun();
    m_errorsSinceConnect = 0;
    m_socket.connectToServer();
    m_view.letEventsRun();
    const QByteArray message =
        (m_view.score() + QLatin1String(ScoreProtocol::Separator) + m_view.nickname())
            .toLocal8Bit();
    m_view.letEventsRun();

    // A server farther away than this machine needs a moment to accept; wait for it, briefly.
    const bool sent = waitForConnection() && m_socket.send(message) &&
                      (m_view.letEventsRun(), m_socket.send(QByteArray(ScoreProtocol::EndMarker)));
    // Closed while it was on its way: the submission ends quietly, the thank-you said.
    if (m_cancelled)
        return;
    if (!sent) {
        m_view.showMessage(QStringLiteral("The server you specified cannot be found!"),
                           QStringLiteral("Server not found!"), MessageIcon::None);
        m_view.destroyControls();
        return;
    }
    m_view.setProcessEnabled(false);
    m_view.letEventsRun();
}

bool SubmissionClient::waitForConnection()
{
    const QDeadlineTimer deadline(m_connectWait);
    while (!m_socket.isConnected() && m_errorsSinceConnect == 0 && m_socket.isConnecting() &&
           !deadline.hasExpired()) {
        m_view.letEventsRun();
        if (!m_socket.isConnected())
            QThread::msleep(1);
    }
    return m_socket.isConnected() && m_errorsSinceConnect == 0;
}

void SubmissionClient::hangUp()
{
    // A reconnection still waiting for the event loop goes with the connection.
    m_reconnectDue = false;
    m_reconnectWait.stop();
    m_socket.close();
}

void SubmissionClient::close()
{
    m_cancelled = m_submitting;
    hangUp();
    m_view.showMessage(QStringLiteral("Thank you, ") + m_view.nickname() +
                           QStringLiteral(", for submitting your results. This window will now "
                                          "close."),
                       QStringLiteral("Results"), MessageIcon::Information);
    m_view.hideWindow();
}

void SubmissionClient::idleTick()
{
    ++m_idleTicks;
    if (m_idleTicks <= 10)
        return;
    hangUp();
    m_view.setProcessEnabled(false);
    if (m_view.nickname().isEmpty()) {
        m_view.showMessage(
            QStringLiteral("You've been disconnected.  You may only stay idle for 10 seconds!"),
            QStringLiteral("Disconnected!"), MessageIcon::None);
        m_idleTicks = 0;
        m_idleTimer.stop();
    }
}

void SubmissionClient::controlsDestroyed()
{
    m_cancelled = m_submitting;
    m_idleTimer.stop();
    m_replyTimer.stop();
    hangUp();
}

void SubmissionClient::dataArrived()
{
    // Each arrival replaces the last; of a flood only the newest 64 KiB are kept.
    QByteArray bytes = m_socket.readAll();
    if (bytes.size() > ReplyLimit)
        bytes = bytes.right(ReplyLimit);
    m_reply = QString::fromLocal8Bit(bytes);
    if (!m_replyTimer.isActive())
        m_replyTimer.start();
}

void SubmissionClient::socketError()
{
    ++m_errorsSinceConnect;
    // One reconnection, to the port beside the default; an error on that one ends it.
    if (m_reconnected) {
        m_socket.close();
        m_view.setProcessEnabled(false);
        return;
    }
    m_reconnected = true;
    m_socket.close();
    m_socket.setRemoteHost(parseServerAddress(m_view.serverAddress(), {}).host);
    m_socket.setRemotePort(m_reconnectPort);
    m_view.letEventsRun();
    // From the event loop: this runs inside the socket's error signal, and the socket finishes
    // handling that error after it, which would close a connection started here.
    m_reconnectDue = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_reconnectDue) {
                m_reconnectDue = false;
                m_socket.connectToServer();
                m_reconnectWait.start();
            }
        },
        Qt::QueuedConnection);
    m_view.setProcessEnabled(false);
}

// A test driver that Qt loads into the real program as a generic plugin
// (QT_PLUGIN_PATH=<folder of this build>, QT_QPA_GENERIC_PLUGINS=orvane-driver), so a test can
// run the installed program exactly as installed. Once the main window shows, it presses
// Benchmark, answers every message box, prints what the run left behind and which kernel library
// the process loaded, then submits the score to a score server of its own on a loopback port and
// prints the reply and where the network module came from. It ends the program: with 0 when one
// cycle of the real kernels ran and the score was answered, Qt Network having been loaded only
// for the submission; with 1 otherwise; with 2 when a window never showed.
//
// The driver does not link Qt Network itself: its server is a plain socket.
#include <QApplication>
#include <QFile>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <link.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace {

// Where the process found libkalvex, empty when it has not loaded it.
QString loadedKernelLibrary()
{
    void *handle = dlopen("libkalvex.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!handle)
        return {};
    link_map *map = nullptr;
    QString path;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map)
        path = QString::fromLocal8Bit(map->l_name);
    dlclose(handle);
    return path;
}

// The file of the first mapping whose path contains part, empty when there is none.
QString mappedFile(const char *part)
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return QStringLiteral("(no maps)");
    for (const QByteArray &line : maps.readAll().split('\n')) {
        if (line.contains(part))
            return QString::fromLocal8Bit(line.mid(line.indexOf('/')));
    }
    return {};
}

QWidget *visibleWindowWith(const char *child)
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->isVisible() && window->findChild<QWidget *>(QLatin1String(child)))
            return window;
    }
    return nullptr;
}

QWidget *mainWindow()
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->objectName() == QLatin1String("form1") && window->isVisible())
            return window;
    }
    return nullptr;
}

// A score server that takes one submission on a loopback port and thanks for it.
class OneScoreServer
{
public:
    OneScoreServer()
    {
        m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 ||
            bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            listen(m_listener, 1) != 0 ||
            getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_accepting = std::make_unique<QSocketNotifier>(m_listener, QSocketNotifier::Read);
        QObject::connect(m_accepting.get(), &QSocketNotifier::activated, [this] {
            m_accepting->setEnabled(false);
            m_client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (m_client < 0)
                return;
            m_reading = std::make_unique<QSocketNotifier>(m_client, QSocketNotifier::Read);
            QObject::connect(m_reading.get(), &QSocketNotifier::activated, [this] { read(); });
        });
    }

    ~OneScoreServer()
    {
        m_reading.reset();
        m_accepting.reset();
        for (const int descriptor : {m_client, m_listener}) {
            if (descriptor >= 0)
                close(descriptor);
        }
    }

    int port() const { return m_port; }

private:
    void read()
    {
        char buffer[256];
        const ssize_t got = ::read(m_client, buffer, sizeof buffer);
        if (got > 0)
            m_received.append(buffer, got);
        if (got <= 0 || m_received.endsWith("data")) {
            m_reading->setEnabled(false);
            const QByteArray score = m_received.left(m_received.indexOf(' '));
            const QByteArray reply =
                "Thanks, driver: " + score + " s is #1 of 1. Best: " + score + " s by driver.\n";
            if (got > 0 && ::write(m_client, reply.constData(), reply.size()) < 0)
                std::printf("server could not answer\n");
            shutdown(m_client, SHUT_RDWR);
        }
    }

    int m_listener = -1;
    int m_client = -1;
    int m_port = 0;
    QByteArray m_received;
    std::unique_ptr<QSocketNotifier> m_accepting;
    std::unique_ptr<QSocketNotifier> m_reading;
};

class Driver : public QObject
{
public:
    Driver()
    {
        connect(&m_poll, &QTimer::timeout, this, &Driver::poll);
        m_poll.start(20);
        QTimer::singleShot(60000, this, [] {
            std::printf("no main window within 60 s\n");
            QCoreApplication::exit(2);
        });
    }

private:
    void poll()
    {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("message %s\n", qPrintable(box->text()));
            m_messages = true;
            box->button(QMessageBox::Ok)->click();
            if (m_submitted)
                QCoreApplication::exit(1);
            return;
        }
        if (!m_started && mainWindow()) {
            m_started = true;
            m_networkAtStart = mappedFile("libQt6Network");
            QTimer::singleShot(0, this, &Driver::run);
        }
        if (m_submitted) {
            const auto *reply = m_submitted->findChild<QPlainTextEdit *>(QStringLiteral("Text3"));
            if (reply && reply->toPlainText().startsWith(QLatin1String("Thanks"))) {
                std::printf("reply %s\n", qPrintable(reply->toPlainText().trimmed()));
                std::printf("network module %s\n", qPrintable(mappedFile("orvane-network")));
                std::fflush(stdout);
                m_submitted = nullptr;
                QCoreApplication::exit(m_ran && !m_messages ? 0 : 1);
            }
        }
    }

    // Presses Submit and sends the score to the driver's own server.
    void submit(QWidget *form1)
    {
        auto *submit = form1->findChild<QPushButton *>(QStringLiteral("Command6"));
        if (!submit || !submit->isEnabled()) {
            std::printf("submit is not enabled\n");
            QCoreApplication::exit(1);
            return;
        }
        submit->click();
        QWidget *window = visibleWindowWith("cmdProcessScore");
        if (!window || m_server.port() == 0) {
            std::printf(window ? "no loopback port\n" : "no submission window\n");
            QCoreApplication::exit(2);
            return;
        }
        window->findChild<QLineEdit *>(QStringLiteral("txtIP"))
            ->setText(QStringLiteral("127.0.0.1"));
        window->findChild<QLineEdit *>(QStringLiteral("txtPort"))
            ->setText(QString::number(m_server.port()));
        window->findChild<QLineEdit *>(QStringLiteral("Text7"))->setText(QStringLiteral("driver"));
        window->findChild<QPushButton *>(QStringLiteral("cmdProcessScore"))->click();
        m_submitted = window;
    }

    void run()
    {
        QWidget *form1 = mainWindow();
        form1->findChild<QPushButton *>(QStringLiteral("Command1"))->click();

        const QString kalvex = loadedKernelLibrary();
        std::printf("kalvex %s\n", qPrintable(kalvex));
        for (const char *name : {"txt1", "txt5", "txt6", "Text1", "txtTotal2"}) {
            const auto *field = form1->findChild<QLineEdit *>(QLatin1String(name));
            std::printf("%s %s\n", name, field ? qPrintable(field->text()) : "(missing)");
        }
        const auto *status = form1->findChild<QLabel *>(QStringLiteral("lblstatus"));
        std::printf("lblstatus %s\n", status ? qPrintable(status->text()) : "(missing)");
        std::fflush(stdout);

        std::printf("network at start %s\n",
                    m_networkAtStart.isEmpty() ? "none" : qPrintable(m_networkAtStart));
        std::fflush(stdout);

        const auto *prime = form1->findChild<QLineEdit *>(QStringLiteral("txt6"));
        m_ran = prime && prime->text() == QLatin1String("30712429") && !kalvex.isEmpty() &&
                m_networkAtStart.isEmpty();
        if (!m_ran) {
            QCoreApplication::exit(1);
            return;
        }
        submit(form1);
    }

    QTimer m_poll;
    OneScoreServer m_server;
    QString m_networkAtStart;
    QPointer<QWidget> m_submitted;
    bool m_started = false;
    bool m_ran = false;
    bool m_messages = false;
};

} // namespace

class DriverPlugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "driver.json")

public:
    QObject *create(const QString &, const QString &) override { return new Driver; }
};

#include "driver.moc"

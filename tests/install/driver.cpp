// A test driver that Qt loads into the real program as a generic plugin
// (QT_PLUGIN_PATH=<folder of this build>, QT_QPA_GENERIC_PLUGINS=orvane-driver), so a test can
// run the installed program exactly as installed. Once the main window shows, it presses
// Benchmark, answers every message box, prints what the run left behind and which kernel library
// the process loaded, and ends the program: with 0 when one cycle of the real kernels ran, with
// 1 otherwise, with 2 when the window never showed.
#include <QApplication>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <dlfcn.h>
#include <link.h>

#include <cstdio>

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

QWidget *mainWindow()
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (window->objectName() == QLatin1String("form1") && window->isVisible())
            return window;
    }
    return nullptr;
}

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
            return;
        }
        if (!m_started && mainWindow()) {
            m_started = true;
            QTimer::singleShot(0, this, &Driver::run);
        }
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

        const auto *prime = form1->findChild<QLineEdit *>(QStringLiteral("txt6"));
        const bool ran = prime && prime->text() == QLatin1String("30712429");
        QCoreApplication::exit(ran && !m_messages && !kalvex.isEmpty() ? 0 : 1);
    }

    QTimer m_poll;
    bool m_started = false;
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

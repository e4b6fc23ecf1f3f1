#include "helpers.h"
#include "scoredatabase.h"
#include "scoreserver.h"
#include "submit/submitwindow.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>

// Orvane's submission window sending to the real score server.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnUnexpectedBoxes(); }
    void init();
    void cleanup();
    void replyShowsInTheWindow();
    void submittingBeforeAnyRunIsRejected();

private:
    template<typename T> T *child(const char *name) { return control<T>(window.get(), name); }
    void submit(quint16 port, const QString &nickname)
    {
        child<QLineEdit>("txtIP")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>("txtPort")->setText(QString::number(port));
        child<QLineEdit>("Text7")->setText(nickname);
        child<QPushButton>("cmdProcessScore")->click();
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<ScoreDatabase> database;
    std::unique_ptr<ScoreServer> server;
    std::unique_ptr<SubmitWindow> window;
    QString score = QStringLiteral("1.6539");
};

void TestEndToEnd::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QString error;
    database = ScoreDatabase::open(dir->filePath(QStringLiteral("scores.db")), &error);
    QVERIFY2(database, qPrintable(error));
    server = std::make_unique<ScoreServer>(*database);
    QVERIFY2(server->listen(QHostAddress::LocalHost, {0, 0}, &error), qPrintable(error));
    window = std::make_unique<SubmitWindow>(
        nullptr, [this] { return score; }, 1000, 5000, server->ports()[1]);
    window->showModal();
}

void TestEndToEnd::cleanup()
{
    window.reset();
    server.reset();
    database.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    dir.reset();
}

void TestEndToEnd::replyShowsInTheWindow()
{
    submit(server->ports()[0], QStringLiteral("anonymous"));
    QTRY_COMPARE(
        child<QPlainTextEdit>("Text3")->toPlainText(),
        QStringLiteral("Thanks, anonymous: 1.6539 s is #1 of 1. Best: 1.6539 s by anonymous.\n"));
    QCOMPARE(database->count(), 1);

    // The server ends the connection after its line; the window stays as it was, with no box.
    QTRY_VERIFY(!window->client().socket().isConnected());
    QVERIFY(!QApplication::activeModalWidget() ||
            !qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
    QCOMPARE(child<QPlainTextEdit>("Text3")->toPlainText().left(7), QStringLiteral("Thanks,"));
}

void TestEndToEnd::submittingBeforeAnyRunIsRejected()
{
    // Without a finished run the score field is empty, and the server says so.
    score.clear();
    window.reset();
    window = std::make_unique<SubmitWindow>(
        nullptr, [this] { return score; }, 1000, 5000, server->ports()[1]);
    window->showModal();
    QCOMPARE(child<QLineEdit>("Text6")->text(), QString());
    submit(server->ports()[0], QStringLiteral("kim"));
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(),
                 QStringLiteral("Rejected: no score.\n"));
    QCOMPARE(database->count(), 0);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"

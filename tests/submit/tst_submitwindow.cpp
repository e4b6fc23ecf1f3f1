// The submit window as the user meets it: its fields and their first state, message boxes,
// hiding and rebuilding its controls, dragging it. What the submission does on the wire is
// tested through a fake view in tst_submissionclient.
#include "helpers.h"
#include "servers.h"
#include "submit/submitwindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include <memory>

class TestSubmitWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { failOnUnexpectedBoxes(); }
    void init();
    void cleanup();

    void initialState();
    void fieldsGoOnTheWire();
    void closedPortFailsAndRebuildsTheControls();
    void closedFromTheDesktopClosesTheConnection();
    void reservedNicknameIsClearedAndFocused();
    void reopenAfterASubmission();
    void dragByTheLogoOnly();

private:
    template<typename T> T *child(const char *name) { return control<T>(window.get(), name); }
    void submitTo(quint16 port, const QString &nickname = QStringLiteral("anonymous"))
    {
        child<QLineEdit>("txtPort")->setText(QString::number(port));
        child<QLineEdit>("Text7")->setText(nickname);
        child<QPushButton>("cmdProcessScore")->click();
    }

    std::unique_ptr<SubmitWindow> window;
};

void TestSubmitWindow::init()
{
    window = std::make_unique<SubmitWindow>(
        nullptr, [] { return QStringLiteral("41.2"); }, 20);
    window->showModal();
}

void TestSubmitWindow::cleanup()
{
    window.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestSubmitWindow::initialState()
{
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window->size(), QSize(463, 183));
    QCOMPARE(child<QLineEdit>("txtIP")->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(child<QLineEdit>("txtPort")->text(), QStringLiteral("1337"));
    QVERIFY(child<QLineEdit>("txtPort")->isHidden());
    QCOMPARE(child<QLineEdit>("Text7")->text(), QStringLiteral("anonymous"));
    QCOMPARE(child<QLineEdit>("Text6")->text(), QStringLiteral("41.2"));
    QVERIFY(!child<QLineEdit>("Text6")->isEnabled());
    QVERIFY(child<QPushButton>("cmdProcessScore")->isEnabled());
    QVERIFY(!window->client().idleTimer().isActive());
    QCOMPARE(window->client().idleTimer().interval(), 20);

    // A nickname longer than ten characters cannot be typed.
    QLineEdit *nick = child<QLineEdit>("Text7");
    nick->clear();
    QTest::keyClicks(nick, QStringLiteral("abcdefghijkl"));
    QCOMPARE(nick->text(), QStringLiteral("abcdefghij"));
}

// What the fields hold is what goes out, and the answer shows in the reply field.
void TestSubmitWindow::fieldsGoOnTheWire()
{
    TestServer server;
    window->setScore(QStringLiteral("12.5"));
    child<QLineEdit>("txtIP")->setText(QStringLiteral(" localhost "));
    submitTo(server.serverPort(), QStringLiteral("kim"));
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    QVERIFY(!child<QPushButton>("cmdProcessScore")->isEnabled());
    QCOMPARE(server.received, QList<QByteArray>{QByteArray("12.5           By kimdata")});
}

// A refusal is a real message box, with its icon, and the nickname field is ready for another.
void TestSubmitWindow::reservedNicknameIsClearedAndFocused()
{
    MessageBoxAnswerer answer;
    submitTo(closedPort(), QStringLiteral("qolmar"));
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.title, QStringLiteral("Reserved Nickname"));
    QCOMPARE(answer.seen.icon, QMessageBox::Critical);
    QVERIFY(child<QLineEdit>("Text7")->text().isEmpty());
    QCOMPARE(window->focusWidget(), child<QLineEdit>("Text7"));
}

void TestSubmitWindow::closedPortFailsAndRebuildsTheControls()
{
    child<QLineEdit>("txtIP")->setText(QStringLiteral("127.0.0.1"));
    child<QPlainTextEdit>("Text3")->setPlainText(QStringLiteral("old reply"));
    MessageBoxAnswerer answer;
    submitTo(closedPort(), QStringLiteral("kim"));
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.text, QStringLiteral("The server you specified cannot be found!"));
    QCOMPARE(answer.seen.title, QStringLiteral("Server not found!"));
    QCOMPARE(answer.seen.icon, QMessageBox::NoIcon);
    QVERIFY(!window->isVisible());
    QVERIFY(!window->controls());
    QVERIFY(!window->client().idleTimer().isActive());
    const int ticks = window->client().idleTicks();

    // The next use builds the controls in their first state and loads the score again.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    window->showModal();
    QVERIFY(window->controls());
    QCOMPARE(child<QLineEdit>("Text7")->text(), QStringLiteral("anonymous"));
    QVERIFY(child<QPlainTextEdit>("Text3")->toPlainText().isEmpty());
    QVERIFY(child<QPushButton>("cmdProcessScore")->isEnabled());
    QCOMPARE(child<QLineEdit>("Text6")->text(), QStringLiteral("41.2"));
    QCOMPARE(window->client().idleTicks(), ticks);
    // A bad port number takes the same way out.
    child<QLineEdit>("txtPort")->setText(QStringLiteral("nope"));
    child<QPushButton>("cmdProcessScore")->click();
    QCOMPARE(answer.seen.count, 2);
}

// Closed from the desktop, the window hides, keeps its fields and closes its connection.
void TestSubmitWindow::closedFromTheDesktopClosesTheConnection()
{
    TestServer server;
    server.replies.clear();
    submitTo(server.serverPort());
    QTRY_VERIFY(window->client().socket().isConnected());
    window->close();
    QVERIFY(!window->isVisible());
    QVERIFY(window->controls());
    QVERIFY(!window->client().socket().isConnected());
    QTRY_COMPARE(server.disconnections, 1);
}

void TestSubmitWindow::reopenAfterASubmission()
{
    TestServer server;
    submitTo(server.serverPort(), QStringLiteral("kim"));
    QTRY_COMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    {
        MessageBoxAnswerer answer;
        child<QPushButton>("Command1")->click();
        QCOMPARE(answer.seen.text, QStringLiteral("Thank you, kim, for submitting your results. "
                                                  "This window will now close."));
        QCOMPARE(answer.seen.icon, QMessageBox::Information);
    }
    QVERIFY(!window->isVisible());
    window->showModal();
    QVERIFY(!child<QPushButton>("cmdProcessScore")->isEnabled());
    QCOMPARE(child<QPlainTextEdit>("Text3")->toPlainText(), QStringLiteral("Thanks!"));
    QCOMPARE(child<QLineEdit>("Text7")->text(), QStringLiteral("kim"));
}

void TestSubmitWindow::dragByTheLogoOnly()
{
    window->move(50, 50);
    const auto drag = [](QWidget *w) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)),
                          Qt::RightButton, Qt::RightButton, {});
        QApplication::sendEvent(w, &press);
        QMouseEvent move(QEvent::MouseMove, QPointF(12, 7), w->mapToGlobal(QPointF(12, 7)),
                         Qt::NoButton, Qt::RightButton, {});
        QApplication::sendEvent(w, &move);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(12, 7),
                            w->mapToGlobal(QPointF(12, 7)), Qt::RightButton, Qt::NoButton, {});
        QApplication::sendEvent(w, &release);
    };
    drag(child<QLabel>("lblstatus"));
    QCOMPARE(window->pos(), QPoint(50, 50));
    drag(child<QLabel>("imgLogo"));
    QCOMPARE(window->pos(), QPoint(60, 55));
}

QTEST_MAIN(TestSubmitWindow)
#include "tst_submitwindow.moc"

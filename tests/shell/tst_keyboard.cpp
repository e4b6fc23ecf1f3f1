// The windows driven from the keyboard alone: everything a mouse user can do, a keyboard user
// can, with Return, Space, Escape and Tab.
#include "benchmark/burninwindow.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/aboutwindow.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "submit/submitwindow.h"
#include "sysinfo/linuxhost.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>

#include <memory>

class TestKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keysPressTheFocusedButton_data();
    void keysPressTheFocusedButton();
    void returnInTheCountPressesGo();
    void escapeClosesTheBurnInWindow();
    void escapeClosesTheSubmissionWindow();
    void escapeClosesTheAboutWindow();
    void tabReachesEveryField();

private:
    QWidget *window(const QString &which)
    {
        if (which == QLatin1String("main"))
            return windows->mainWindow();
        if (which == QLatin1String("burn-in")) {
            windows->showBurnIn();
            return windows->burnIn();
        }
        windows->showSubmit();
        return windows->submit();
    }

    LinuxHost host;
    std::unique_ptr<FakeKernels> kernels;
    std::unique_ptr<AppWindows> windows;
};

void TestKeyboard::initTestCase()
{
    failOnUnexpectedBoxes();
    Program::prepare(*qApp);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestKeyboard::init()
{
    kernels = std::make_unique<FakeKernels>();
    windows = std::make_unique<AppWindows>(*kernels, host.probe);
    windows->start();
    QVERIFY(QTest::qWaitForWindowExposed(windows->mainWindow()));
}

void TestKeyboard::cleanup()
{
    windows.reset();
    kernels.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestKeyboard::keysPressTheFocusedButton_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("key");
    const struct
    {
        const char *which;
        const char *button;
    } buttons[] = {{"main", "Command1"},
                   {"main", "Command7"},
                   {"burn-in", "Command1"},
                   {"burn-in", "Command2"},
                   {"submit", "Command1"}};
    for (const auto &b : buttons) {
        for (const auto &[key, name] :
             {std::pair{Qt::Key_Return, "Return"}, std::pair{Qt::Key_Enter, "Enter"},
              std::pair{Qt::Key_Space, "Space"}})
            QTest::addRow("%s %s %s", b.which, b.button, name)
                << QString::fromLatin1(b.which) << QString::fromLatin1(b.button) << int(key);
    }
}

// Return, Enter and Space on a focused button press it, in every window.
void TestKeyboard::keysPressTheFocusedButton()
{
    QFETCH(QString, which);
    QFETCH(QString, button);
    QFETCH(int, key);
    MessageBoxAnswerer answer; // Close in the submission window thanks the user
    auto *pressed = control<QPushButton>(window(which), button.toLatin1().constData());
    pressed->setFocus();
    QSignalSpy clicks(pressed, &QPushButton::clicked);
    QTest::keyClick(pressed, Qt::Key(key));
    QCOMPARE(clicks.count(), 1);
}

// Return in the count starts the run Go! starts.
void TestKeyboard::returnInTheCountPressesGo()
{
    BurnInWindow *form2 = qobject_cast<BurnInWindow *>(window(QStringLiteral("burn-in")));
    auto *count = control<QLineEdit>(form2, "Text1");
    count->setText(QStringLiteral("2"));
    QTest::keyClick(count, Qt::Key_Return);
    QCOMPARE(kernels->calls.size(), 14);
    QVERIFY(form2->logText().contains(QStringLiteral("Total time to perform 2 cycles")));
}

void TestKeyboard::escapeClosesTheBurnInWindow()
{
    QWidget *form2 = window(QStringLiteral("burn-in"));
    QVERIFY(form2->isVisible());
    QTest::keyClick(control<QLineEdit>(form2, "Text1"), Qt::Key_Escape);
    QVERIFY(!form2->isVisible());
}

// Escape does what Close does: the thank-you, then the window hides.
void TestKeyboard::escapeClosesTheSubmissionWindow()
{
    QWidget *submit = window(QStringLiteral("submit"));
    QVERIFY(submit->isVisible());
    MessageBoxAnswerer answer;
    QTest::keyClick(control<QLineEdit>(submit, "Text7"), Qt::Key_Escape);
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.title, QStringLiteral("Results"));
    QVERIFY(!submit->isVisible());
}

void TestKeyboard::escapeClosesTheAboutWindow()
{
    bool seen = false;
    QTimer::singleShot(0, this, [&seen] {
        QWidget *about = QApplication::activeModalWidget();
        seen = qobject_cast<AboutWindow *>(about) != nullptr;
        if (about)
            QTest::keyClick(about, Qt::Key_Escape);
    });
    // Returns once the window has closed; a window Escape did not close would hold the test
    // until its time limit.
    windows->showAbout();
    QVERIFY(seen);
    QVERIFY(!QApplication::activeModalWidget());
}

// After a run every field of the main window can be reached with Tab, and stays read-only.
void TestKeyboard::tabReachesEveryField()
{
    MainWindow *main = windows->mainWindow();
    control<QPushButton>(main, "Command1")->click();
    QVERIFY(!kernels->calls.isEmpty());

    QStringList visited;
    control<QPushButton>(main, "Command1")->setFocus();
    for (int step = 0; step < 60; ++step) {
        QTest::keyClick(main->focusWidget(), Qt::Key_Tab);
        const QString name = main->focusWidget()->objectName();
        if (visited.contains(name))
            break;
        visited << name;
    }
    const char *fields[] = {"Text3", "Text5", "Text4", "txt2k",    "txtproc2",     "txt1",
                            "txt2",  "txt3",  "txt4",  "txtTotal", "txt6",         "txt5",
                            "Text1", "txt7",  "Text2", "txt8",     "txtcomptotal", "txtTotal2"};
    for (const char *field : fields) {
        QVERIFY2(visited.contains(QLatin1String(field)),
                 qPrintable(QStringLiteral("%1 not reached: %2")
                                .arg(QLatin1String(field), visited.join(u' '))));
        QWidget *widget = control<QWidget>(main, field);
        widget->setFocus();
        const QString before = main->text(Field::OverallTotal);
        if (auto *line = qobject_cast<QLineEdit *>(widget)) {
            const QString text = line->text();
            QTest::keyClicks(line, QStringLiteral("9x"));
            QCOMPARE(line->text(), text);
        } else {
            auto *plain = qobject_cast<QPlainTextEdit *>(widget);
            QVERIFY(plain);
            const QString text = plain->toPlainText();
            QTest::keyClicks(plain, QStringLiteral("9x"));
            QCOMPARE(plain->toPlainText(), text);
        }
        QCOMPARE(main->text(Field::OverallTotal), before);
    }
    for (const char *button : {"Command1", "Command7", "cmdAbout", "Command2", "Command6"})
        QVERIFY2(visited.contains(QLatin1String(button)), button);
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"

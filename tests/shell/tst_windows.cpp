#include "benchmark/burninwindow.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/aboutwindow.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "submit/submitwindow.h"
#include "sysinfo/linuxhost.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScopeGuard>

#include <algorithm>

#include <memory>

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void newBurnInWindow();
    void goRefusesAnInvalidCount_data();
    void goRefusesAnInvalidCount();
    void goRunsTheCount_data();
    void goRunsTheCount();
    void goDuringARunAborts();
    void closeAndReopenKeepLogAndCount();
    void closeGlyphDuringABurnInRun();
    void aboutIsModalAndTheSameEachTime();
    void submitWindowGetsTheScore();
    // Last: once the application's event loop has ended, no other loop (a modal dialog's
    // included) runs again in this process.
    void closeGlyphEndsTheProgram();

private:
    template<typename T> T *in(QWidget *window, const char *name)
    {
        return control<T>(window, name);
    }
    BurnInWindow *openBurnIn()
    {
        in<QPushButton>(windows->mainWindow(), "Command7")->click();
        return windows->existingBurnIn();
    }

    LinuxHost host;
    std::unique_ptr<FakeKernels> kernels;
    std::unique_ptr<AppWindows> windows;
};

void TestWindows::initTestCase()
{
    failOnUnexpectedBoxes();
    Program::prepare(*qApp);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestWindows::init()
{
    kernels = std::make_unique<FakeKernels>();
    windows = std::make_unique<AppWindows>(*kernels, host.probe);
    windows->start();
    QVERIFY(QTest::qWaitForWindowExposed(windows->mainWindow()));
}

void TestWindows::cleanup()
{
    windows.reset();
    kernels.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestWindows::newBurnInWindow()
{
    BurnInWindow *form2 = openBurnIn();
    QVERIFY(form2);
    QCOMPARE(form2->objectName(), QStringLiteral("Form2"));
    QVERIFY(form2->isVisible());
    QVERIFY(!form2->parentWidget());
    QVERIFY(!form2->isModal());
    QVERIFY(form2->windowTitle().isEmpty());
    QCOMPARE(form2->size(), QSize(301, 185));
    QCOMPARE(in<QLineEdit>(form2, "Text1")->text(), QStringLiteral("1"));
    QCOMPARE(form2->logText(), QStringLiteral("Burn-In Ready..."));
    QCOMPARE(in<QPlainTextEdit>(form2, "Text2")->toPlainText(), QStringLiteral("Burn-In Ready..."));
    QVERIFY(in<QPlainTextEdit>(form2, "Text2")->isReadOnly());
    // The main window stays usable beside it.
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(in<QPushButton>(windows->mainWindow(), "Command1")->isEnabled());
    // A second Burn-In brings the same window forward.
    QCOMPARE(openBurnIn(), form2);
}

void TestWindows::goRefusesAnInvalidCount_data()
{
    QTest::addColumn<QString>("count");
    QTest::newRow("zero") << QStringLiteral("0");
    QTest::newRow("negative") << QStringLiteral("-3");
    QTest::newRow("letters") << QStringLiteral("abc");
    QTest::newRow("empty") << QString();
    QTest::newRow("below one") << QStringLiteral("0.99");
}

void TestWindows::goRefusesAnInvalidCount()
{
    QFETCH(QString, count);
    BurnInWindow *form2 = openBurnIn();
    QLineEdit *field = in<QLineEdit>(form2, "Text1");
    field->setText(count);
    MessageBoxAnswerer answer;
    in<QPushButton>(form2, "Command1")->click();

    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.text, QStringLiteral("Invalid value"));
    QCOMPARE(answer.seen.title, QStringLiteral("CPU - Orvane"));
    QCOMPARE(answer.seen.icon, QMessageBox::NoIcon);
    QVERIFY(field->text().isEmpty());
    QCOMPARE(form2->focusWidget(), field);
    QVERIFY(kernels->calls.isEmpty());
    QCOMPARE(form2->logText(), QStringLiteral("Burn-In Ready..."));

    // Benchmark on the main window now finds the same bad count and refuses it too, saying
    // which value it is and where, with the burn-in window shown and the count focused.
    form2->hide();
    in<QPushButton>(windows->mainWindow(), "Command1")->click();
    QCOMPARE(answer.seen.count, 2);
    QCOMPARE(answer.seen.text,
             QStringLiteral("Invalid value for the burn-in cycle count: a run needs a number of "
                            "cycles of at least 1."));
    QCOMPARE(answer.seen.title, QStringLiteral("CPU - Orvane"));
    QVERIFY(form2->isVisible());
    QCOMPARE(form2->focusWidget(), field);
    QVERIFY(kernels->calls.isEmpty());
    QVERIFY(!windows->frameKeeper().isExpanded());
}

void TestWindows::goRunsTheCount_data()
{
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("cycles");
    QTest::addColumn<QString>("summary");
    QTest::newRow("two") << QStringLiteral("2") << 2
                         << QStringLiteral("Total time to perform 2 cycles: 3.5 seconds.\r\n"
                                           "Average score: 1.75 seconds.\r\n");
    QTest::newRow("one and a half") << QStringLiteral("1.5") << 1
                                    << QStringLiteral("Total time to perform 1 cycles: 1.75 "
                                                      "seconds.\r\nAverage score: "
                                                      "1.75 seconds.\r\n");
}

void TestWindows::goRunsTheCount()
{
    QFETCH(QString, count);
    QFETCH(int, cycles);
    QFETCH(QString, summary);
    BurnInWindow *form2 = openBurnIn();
    in<QLineEdit>(form2, "Text1")->setText(count);
    in<QPushButton>(form2, "Command1")->click();

    QCOMPARE(kernels->calls.size(), 7 * cycles);
    const QString log = form2->logText();
    QVERIFY(log.startsWith(QStringLiteral("Burn-In Ready...-->Benchmark started at ")));
    QCOMPARE(log.count(QStringLiteral(" Completed. Time: ")), cycles);
    QVERIFY2(log.contains(summary), qPrintable(log));
    QVERIFY(log.endsWith(QStringLiteral(".\r\n")));
    QVERIFY(log.contains(QStringLiteral("Benchmark finished at ")));
    QTRY_COMPARE(QApplication::activeWindow(), form2);
    QVERIFY(windows->frameKeeper().isExpanded());
    // The shown log ends where the run left it, scrolled to the last line.
    QVERIFY(in<QPlainTextEdit>(form2, "Text2")->toPlainText().endsWith(QStringLiteral(".\n")));
}

void TestWindows::goDuringARunAborts()
{
    BurnInWindow *form2 = openBurnIn();
    in<QLineEdit>(form2, "Text1")->setText(QStringLiteral("3"));
    QPushButton *go = in<QPushButton>(form2, "Command1");
    kernels->onRun = [&](Kernel, int call) {
        if (call == 9)
            QTimer::singleShot(0, go, &QPushButton::click);
    };
    go->click();

    QCOMPARE(kernels->calls.size(), 9);
    QVERIFY(form2->logText().endsWith(QStringLiteral("!!!\r\n")));
    QCOMPARE(form2->logText().count(QStringLiteral("!!!Benchmark Aborted at ")), 1);
    QCOMPARE(in<QLabel>(windows->mainWindow(), "lblstatus")->text(),
             QStringLiteral("\u00BB Benchmark Aborted!"));
    QVERIFY(!in<QPushButton>(windows->mainWindow(), "Command6")->isEnabled());
}

void TestWindows::closeAndReopenKeepLogAndCount()
{
    BurnInWindow *form2 = openBurnIn();
    in<QLineEdit>(form2, "Text1")->setText(QStringLiteral("1"));
    in<QPushButton>(form2, "Command1")->click();
    in<QLineEdit>(form2, "Text1")->setText(QStringLiteral("7"));
    const QString log = form2->logText();

    in<QPushButton>(form2, "Command2")->click();
    QVERIFY(!form2->isVisible());
    QCOMPARE(openBurnIn(), form2);
    QVERIFY(form2->isVisible());
    QCOMPARE(in<QLineEdit>(form2, "Text1")->text(), QStringLiteral("7"));
    QCOMPARE(form2->logText(), log);
}

// Closing everything while a run started by Go! is in progress: the run stops at its next
// event point and touches no window after that; the windows go and nothing crashes.
void TestWindows::closeGlyphDuringABurnInRun()
{
    QPointer<BurnInWindow> form2 = openBurnIn();
    in<QLineEdit>(form2, "Text1")->setText(QStringLiteral("5"));
    QLabel *close = in<QLabel>(windows->mainWindow(), "lbX");
    kernels->onRun = [&](Kernel, int call) {
        if (call == 3)
            QTimer::singleShot(0, close, [close] { clickLabel(close); });
    };
    in<QPushButton>(form2, "Command1")->click();

    QCOMPARE(kernels->calls.size(), 3);
    QVERIFY(windows->mainWindow()->isClosed());
    QVERIFY(!windows->mainWindow()->isVisible());
    QVERIFY(!windows->existingBurnIn());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(form2.isNull());
    QVERIFY(!windows->run().isRunning());
}

// The program ends by its own quit, not by Qt's rule that it ends with its last shown window,
// which the hidden windows it keeps alive must not be left to: the rule is switched off here.
void TestWindows::closeGlyphEndsTheProgram()
{
    BurnInWindow *form2 = openBurnIn();
    in<QPushButton>(form2, "Command2")->click();
    QVERIFY(!form2->isVisible());
    QGuiApplication::setQuitOnLastWindowClosed(false);
    const auto restore = qScopeGuard([] { QGuiApplication::setQuitOnLastWindowClosed(true); });
    // The program's event loop must end by itself; a failsafe ends it with 1 otherwise.
    QLabel *close = in<QLabel>(windows->mainWindow(), "lbX");
    QTimer::singleShot(0, close, [close] { clickLabel(close); });
    QTimer failsafe;
    failsafe.setSingleShot(true);
    connect(&failsafe, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    failsafe.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QVERIFY(!windows->mainWindow()->isVisible());
    QVERIFY(!windows->existingBurnIn());
    const auto tops = QApplication::topLevelWidgets();
    QVERIFY(std::none_of(tops.begin(), tops.end(), [](QWidget *w) { return w->isVisible(); }));
}

void TestWindows::aboutIsModalAndTheSameEachTime()
{
    QStringList contents;
    for (int opening = 0; opening < 2; ++opening) {
        QTimer::singleShot(50, this, [&] {
            auto *about = qobject_cast<AboutWindow *>(QApplication::activeModalWidget());
            QVERIFY(about);
            QCOMPARE(about->objectName(), QStringLiteral("frmAbout"));
            QCOMPARE(about->windowTitle(), QStringLiteral("About CPU Orvane"));
            QCOMPARE(about->parentWidget(), windows->mainWindow());
            QVERIFY(about->isModal());
            QCOMPARE(about->size(), QSize(410, 100));
            QString text;
            for (const QLabel *label : about->findChildren<QLabel *>())
                text += label->objectName() + QLatin1Char('=') + label->text() + QLatin1Char(';');
            contents << text;
            about->close();
        });
        in<QPushButton>(windows->mainWindow(), "cmdAbout")->click();
        QVERIFY(!QApplication::activeModalWidget());
    }
    QCOMPARE(contents.size(), 2);
    QCOMPARE(contents[0], contents[1]);
    QVERIFY(contents[0].contains(QStringLiteral("lblVersion=v3.0;")));
    // Closing the About window changes nothing in the main window.
    QCOMPARE(windows->mainWindow()->size(), QSize(646, 148));
    QVERIFY(windows->mainWindow()->isVisible());
}

void TestWindows::submitWindowGetsTheScore()
{
    QPushButton *submit = in<QPushButton>(windows->mainWindow(), "Command6");
    QVERIFY(!submit->isEnabled());
    in<QPushButton>(windows->mainWindow(), "Command1")->click();
    // The run wrote the score into a submission window it created, hidden.
    SubmitWindow *window = windows->existingSubmit();
    QVERIFY(window);
    QVERIFY(!window->isVisible());
    QCOMPARE(in<QLineEdit>(window, "Text6")->text(), QStringLiteral("1.75"));

    QVERIFY(submit->isEnabled());
    submit->click();
    QVERIFY(window->isVisible());
    QCOMPARE(window->parentWidget(), windows->mainWindow());
    QVERIFY(window->isModal());

    QPointer<SubmitWindow> gone = window;
    clickLabel(in<QLabel>(windows->mainWindow(), "lbX"));
    QVERIFY(!windows->existingSubmit());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(gone.isNull());
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"

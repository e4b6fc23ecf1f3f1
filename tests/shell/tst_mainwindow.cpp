#include "benchmark/burninwindow.h"
#include "core/units.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "sysinfo/linuxhost.h"
#include "sysinfo/systemprobe.h"
#include "widgets/windowdrag.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QWindow>

#include <memory>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void initialState();
    void startsWithoutImagePlugins();
    void geometryOfTheControls_data();
    void geometryOfTheControls();
    void dragMovesTheWindow_data();
    void dragMovesTheWindow();
    void moveWithoutAPressLeavesTheWindow();
    void minimiseAndKeeperRestores();
    void keeperUndoesAResize();
    void expandedAfterARunAndAfterAnAbort();
    void expandedWindowKeptOnTheScreen_data();
    void expandedWindowKeptOnTheScreen();
    void glyphsIgnoreOtherButtons_data();
    void glyphsIgnoreOtherButtons();
    void glyphReleasedElsewhereDoesNothing_data();
    void glyphReleasedElsewhereDoesNothing();
    void taskbarEntryNamesTheProgram();
    void runFillsTheFieldsAndEnablesSubmit();
    void missingLibraryIsReportedOnce();
    void clockMeasuredAfterTheFirstPaint();
    void clockRefreshKeepsASelection();

private:
    template<typename T> T *child(const char *name)
    {
        return control<T>(windows->mainWindow(), name);
    }
    void clickBenchmark() { child<QPushButton>("Command1")->click(); }

    LinuxHost host;
    std::unique_ptr<FakeKernels> kernels;
    std::unique_ptr<AppWindows> windows;
};

void TestMainWindow::initTestCase()
{
    failOnUnexpectedBoxes();
    Program::prepare(*qApp);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestMainWindow::init()
{
    kernels = std::make_unique<FakeKernels>();
    windows = std::make_unique<AppWindows>(*kernels, host.probe);
    windows->start();
    QVERIFY(QTest::qWaitForWindowExposed(windows->mainWindow()));
}

void TestMainWindow::cleanup()
{
    windows.reset();
    kernels.reset();
}

void TestMainWindow::initialState()
{
    MainWindow *w = windows->mainWindow();
    QCOMPARE(w->objectName(), QStringLiteral("form1"));
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(w->size(), QSize(646, 148));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(w->windowTitle().isEmpty());
    QVERIFY(!windows->frameKeeper().isExpanded());
    QVERIFY(!child<QPushButton>("Command6")->isEnabled());
    QVERIFY(child<QGroupBox>("frFiles")->isHidden());
    QVERIFY(!child<QGroupBox>("frFiles")->isEnabled());
    QCOMPARE(child<QLineEdit>("txt6")->text(), QStringLiteral("943253249333191"));
    QCOMPARE(child<QLabel>("lblstatus")->text(),
             QStringLiteral("\u00BB Stable and Awaiting Action"));
    QCOMPARE(child<QLabel>("lblBeta")->text(), QStringLiteral("v3.0"));
    QCOMPARE(child<QPushButton>("Command1")->text(), QStringLiteral("Benchmark"));
    QCOMPARE(child<QLineEdit>("txtname")->text(), QStringLiteral("My Computer "));
    QCOMPARE(child<QLineEdit>("txtname")->maxLength(), 12);
    QCOMPARE(child<QLineEdit>("txtio")->text(),
             QDir::home().filePath(QStringLiteral("mycomp.dat")));
    QVERIFY(child<QWidget>("Shape1")->isHidden());
    QVERIFY(!child<QLabel>("lblNA")->isHidden());
    QVERIFY(child<QLineEdit>("txt1")->isReadOnly());
    QVERIFY(windows->frameKeeper().timer()->isActive());
    QCOMPARE(windows->frameKeeper().timer()->interval(), 100);
    QVERIFY(windows->hostFields().timer()->isActive());
    QCOMPARE(windows->hostFields().timer()->interval(), 2000);
    QVERIFY(!windows->existingBurnIn());
    // Centred on the screen.
    const QRect screen = w->screen()->availableGeometry();
    QVERIFY(qAbs(w->geometry().center().x() - screen.center().x()) <= 1);
    QVERIFY(qAbs(w->geometry().center().y() - screen.center().y()) <= 1);
}

void TestMainWindow::geometryOfTheControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    QTest::newRow("Command1") << QStringLiteral("Command1") << QRect(5250, 1680, 1275, 330);
    QTest::newRow("Command7") << QStringLiteral("Command7") << QRect(6720, 1680, 1275, 330);
    QTest::newRow("cmdAbout") << QStringLiteral("cmdAbout") << QRect(8190, 1680, 1275, 330);
    QTest::newRow("frInformation")
        << QStringLiteral("frInformation") << QRect(105, 525, 4635, 1590);
    QTest::newRow("frBenchDetails")
        << QStringLiteral("frBenchDetails") << QRect(105, 2205, 4845, 2640);
    QTest::newRow("Frame1") << QStringLiteral("Frame1") << QRect(5160, 2310, 4425, 3690);
    QTest::newRow("txtTotal2") << QStringLiteral("txtTotal2") << QRect(1425, 5025, 1875, 300);
    QTest::newRow("frResults") << QStringLiteral("frResults") << QRect(120, 6210, 9390, 2415);
    QTest::newRow("Command6") << QStringLiteral("Command6") << QRect(1680, 8175, 1380, 330);
    QTest::newRow("txt1 in its frame") << QStringLiteral("txt1") << QRect(2625, 525, 735, 285);
    QTest::newRow("txt6 in its frame") << QStringLiteral("txt6") << QRect(2475, 375, 1695, 285);
    QTest::newRow("lblstatus on the strip")
        << QStringLiteral("lblstatus") << QRect(4080, 60, 3675, 195);
}

// Layout is twips / 15, rounded, within the control's container.
void TestMainWindow::geometryOfTheControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    const QWidget *w = windows->mainWindow()->findChild<QWidget *>(name);
    QVERIFY(w);
    const auto px = [](int t) {
        return qRound(t / 15.0);
    };
    QCOMPARE(w->geometry(),
             QRect(px(twips.x()), px(twips.y()), px(twips.width()), px(twips.height())));
}

void TestMainWindow::dragMovesTheWindow_data()
{
    QTest::addColumn<QString>("handle");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("logo, left button") << QStringLiteral("imgLogo") << Qt::LeftButton;
    QTest::newRow("logo, right button") << QStringLiteral("imgLogo") << Qt::RightButton;
    QTest::newRow("status line, middle button") << QStringLiteral("lblstatus") << Qt::MiddleButton;
    QTest::newRow("version, right button") << QStringLiteral("lblBeta") << Qt::RightButton;
}

void TestMainWindow::dragMovesTheWindow()
{
    QFETCH(QString, handle);
    QFETCH(Qt::MouseButton, button);
    MainWindow *w = windows->mainWindow();
    QWidget *grip = w->findChild<QWidget *>(handle);
    QVERIFY(grip);
    w->move(100, 100);
    const QPoint start = w->pos();

    const QPointF grab(4, 3);
    QMouseEvent press(QEvent::MouseButtonPress, grab, grip->mapToGlobal(grab), button, button, {});
    QApplication::sendEvent(grip, &press);
    QVERIFY(w->drag().dragging());
    QCOMPARE(w->drag().dragStartX(), 60);
    QCOMPARE(w->drag().dragStartY(), 45);

    // The pointer moves 20 pixels right and 7 down while the grab point is still under it.
    const QPointF moved = grab + QPointF(20, 7);
    QMouseEvent move(QEvent::MouseMove, moved, grip->mapToGlobal(moved), Qt::NoButton, button, {});
    QApplication::sendEvent(grip, &move);
    QCOMPARE(w->pos(), start + QPoint(20, 7));

    QMouseEvent release(QEvent::MouseButtonRelease, moved, grip->mapToGlobal(moved), button,
                        Qt::NoButton, {});
    QApplication::sendEvent(grip, &release);
    QVERIFY(!w->drag().dragging());
    QMouseEvent after(QEvent::MouseMove, grab, grip->mapToGlobal(grab), Qt::NoButton, {}, {});
    QApplication::sendEvent(grip, &after);
    QCOMPARE(w->pos(), start + QPoint(20, 7));
}

void TestMainWindow::moveWithoutAPressLeavesTheWindow()
{
    MainWindow *w = windows->mainWindow();
    w->move(120, 80);
    for (QWidget *target : {static_cast<QWidget *>(w), child<QWidget>("imgLogo")}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(50, 10), target->mapToGlobal(QPointF(50, 10)),
                         Qt::NoButton, Qt::LeftButton, {});
        QApplication::sendEvent(target, &move);
    }
    QCOMPARE(w->pos(), QPoint(120, 80));
    // A press on the close or minimise glyph is no drag handle either.
    QTest::mousePress(child<QLabel>("lbX"), Qt::LeftButton);
    QVERIFY(!w->drag().dragging());
}

void TestMainWindow::minimiseAndKeeperRestores()
{
    MainWindow *w = windows->mainWindow();
    clickLabel(child<QLabel>("lblMinimize"));
    QVERIFY(w->isMinimized());
    QCOMPARE(w->windowTitle(), QStringLiteral("CPU Orvane"));
    // The keeper leaves a minimised window alone, tick after tick.
    QSignalSpy ticks(windows->frameKeeper().timer(), &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 2);
    QCOMPARE(w->windowTitle(), QStringLiteral("CPU Orvane"));

    w->setWindowState(Qt::WindowNoState);
    QTRY_VERIFY_WITH_TIMEOUT(w->windowTitle().isEmpty(), 1000);
    QCOMPARE(w->size(), QSize(646, 148));
}

void TestMainWindow::keeperUndoesAResize()
{
    MainWindow *w = windows->mainWindow();
    w->setMinimumSize(0, 0);
    w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    w->resize(700, 300);
    w->setWindowTitle(QStringLiteral("stray"));
    QTRY_COMPARE_WITH_TIMEOUT(w->size(), QSize(646, 148), 1000);
    QVERIFY(w->windowTitle().isEmpty());
    QCOMPARE(w->minimumSize(), w->maximumSize());
}

void TestMainWindow::expandedAfterARunAndAfterAnAbort()
{
    MainWindow *w = windows->mainWindow();
    QPushButton *benchmark = child<QPushButton>("Command1");
    // Centred at its collapsed height on the offscreen screen (800 x 600), the window would
    // grow past its lower edge: it moves up to stay on it.
    const QRect screen = w->screen()->availableGeometry();
    const QPoint start = w->pos();
    clickBenchmark();
    QVERIFY(windows->frameKeeper().isExpanded());
    QCOMPARE(w->size(), QSize(646, 580));
    QCOMPARE(w->pos(), QPoint(start.x(), screen.bottom() + 1 - 580));
    QSignalSpy ticks(windows->frameKeeper().timer(), &QTimer::timeout);
    QTRY_VERIFY(ticks.count() >= 2); // the keeper holds it there
    QCOMPARE(w->size(), QSize(646, 580));

    // Abort the next run during its first test: the window stays expanded.
    kernels->onRun = [&](Kernel, int call) {
        if (call == 8)
            QTimer::singleShot(0, benchmark, &QPushButton::click);
    };
    clickBenchmark();
    QCOMPARE(kernels->calls.size(), 8);
    QCOMPARE(child<QLabel>("lblstatus")->text(), QStringLiteral("\u00BB Benchmark Aborted!"));
    QCOMPARE(benchmark->text(), QStringLiteral("Benchmark"));
    ticks.clear();
    QTRY_VERIFY(ticks.count() >= 2);
    QCOMPARE(w->size(), QSize(646, 580));
    QVERIFY(windows->frameKeeper().timer()->isActive() &&
            windows->hostFields().timer()->isActive());
}

void TestMainWindow::expandedWindowKeptOnTheScreen_data()
{
    QTest::addColumn<QRect>("collapsed");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("expandedAt");
    // The expanded window is 646 x 580, the collapsed one 646 x 148, centred.
    QTest::newRow("1280 x 800: up just enough")
        << QRect(317, 326, 646, 148) << QRect(0, 0, 1280, 800) << QPoint(317, 220);
    QTest::newRow("1366 x 768: up just enough")
        << QRect(360, 310, 646, 148) << QRect(0, 0, 1366, 768) << QPoint(360, 188);
    QTest::newRow("below a top panel")
        << QRect(317, 346, 646, 148) << QRect(0, 40, 1280, 800) << QPoint(317, 260);
    QTest::newRow("fits: stays") << QRect(637, 466, 646, 148) << QRect(0, 0, 1920, 1080)
                                 << QPoint(637, 466);
    QTest::newRow("exactly reaches the edge: stays")
        << QRect(10, 220, 646, 148) << QRect(0, 0, 1280, 800) << QPoint(10, 220);
    QTest::newRow("screen lower than the window: at the area's top")
        << QRect(10, 100, 646, 148) << QRect(0, 20, 800, 480) << QPoint(10, 20);
    QTest::newRow("second screen below the first")
        << QRect(317, 1400, 646, 148) << QRect(0, 1080, 1280, 800) << QPoint(317, 1300);
}

// A window growing downwards moves up just enough to keep its lower edge on the screen.
void TestMainWindow::expandedWindowKeptOnTheScreen()
{
    QFETCH(QRect, collapsed);
    QFETCH(QRect, area);
    QFETCH(QPoint, expandedAt);
    QCOMPARE(keptWithin(QRect(collapsed.topLeft(), QSize(646, 580)), area), expandedAt);
}

void TestMainWindow::glyphsIgnoreOtherButtons_data()
{
    QTest::addColumn<QString>("glyph");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::newRow("close, right") << QStringLiteral("lbX") << Qt::RightButton;
    QTest::newRow("close, middle") << QStringLiteral("lbX") << Qt::MiddleButton;
    QTest::newRow("minimise, right") << QStringLiteral("lblMinimize") << Qt::RightButton;
    QTest::newRow("minimise, middle") << QStringLiteral("lblMinimize") << Qt::MiddleButton;
}

void TestMainWindow::glyphsIgnoreOtherButtons()
{
    QFETCH(QString, glyph);
    QFETCH(Qt::MouseButton, button);
    MainWindow *w = windows->mainWindow();
    clickLabel(w->findChild<QLabel *>(glyph), button);
    QVERIFY(!w->isClosed());
    QVERIFY(w->isVisible());
    QVERIFY(!w->isMinimized());
    QVERIFY(w->windowTitle().isEmpty());
    QVERIFY(!w->drag().dragging());
}

void TestMainWindow::glyphReleasedElsewhereDoesNothing_data()
{
    QTest::addColumn<QString>("glyph");
    QTest::newRow("close") << QStringLiteral("lbX");
    QTest::newRow("minimise") << QStringLiteral("lblMinimize");
}

// A press on a glyph that is let go of beside it is no click: the user changed their mind.
void TestMainWindow::glyphReleasedElsewhereDoesNothing()
{
    QFETCH(QString, glyph);
    MainWindow *w = windows->mainWindow();
    QLabel *label = w->findChild<QLabel *>(glyph);
    QTest::mousePress(label, Qt::LeftButton, {}, label->rect().center());
    QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(-20, label->height() + 20));
    QVERIFY(!w->isClosed());
    QVERIFY(!w->isMinimized());
    QVERIFY(w->windowTitle().isEmpty());
}

// The caption is empty, but the platform's title, which a taskbar shows, is never left empty
// for Qt to fill with the program's file name.
void TestMainWindow::taskbarEntryNamesTheProgram()
{
    MainWindow *w = windows->mainWindow();
    QVERIFY(w->windowTitle().isEmpty());
    QCOMPARE(w->windowHandle()->title(), QStringLiteral("CPU Orvane"));
    clickLabel(child<QLabel>("lblMinimize"));
    QCOMPARE(w->windowHandle()->title(), QStringLiteral("CPU Orvane"));
    w->setWindowState(Qt::WindowNoState);
    QTRY_VERIFY_WITH_TIMEOUT(w->windowTitle().isEmpty(), 1000);
    QCOMPARE(w->windowHandle()->title(), QStringLiteral("CPU Orvane"));
    clickBenchmark();
    QCOMPARE(w->windowHandle()->title(), QStringLiteral("CPU Orvane"));
}

void TestMainWindow::runFillsTheFieldsAndEnablesSubmit()
{
    QStringList statusBeforeKernels;
    kernels->onRun = [&](Kernel, int) {
        statusBeforeKernels << child<QLabel>("lblstatus")->text();
        QVERIFY(!windows->frameKeeper().timer()->isActive());
        QVERIFY(!windows->hostFields().timer()->isActive());
        QCOMPARE(child<QPushButton>("Command1")->text(), QStringLiteral("Abort"));
    };
    clickBenchmark();

    QCOMPARE(statusBeforeKernels.first(),
             QStringLiteral("\u00BB Running: Addition Test - cycle 1"));
    QCOMPARE(statusBeforeKernels.last(), QStringLiteral("\u00BB Running: Power test - cycle 1"));
    QCOMPARE(child<QLineEdit>("txt1")->text(), QStringLiteral("0.25"));
    QCOMPARE(child<QLineEdit>("txtTotal")->text(), QStringLiteral("1"));
    QCOMPARE(child<QLineEdit>("txt6")->text(), QStringLiteral("104"));
    QCOMPARE(child<QPlainTextEdit>("Text2")->toPlainText(), QStringLiteral("106"));
    QCOMPARE(child<QLineEdit>("txtTotal2")->text(), QStringLiteral("1.75"));
    QVERIFY(child<QPushButton>("Command6")->isEnabled());
    QVERIFY(!child<QWidget>("Shape1")->isHidden());
    QVERIFY(child<QLabel>("lblNA")->isHidden());
    QCOMPARE(child<QWidget>("Shape1")->width(), 4); // 1.75 s × 30 twips = 52.5 twips
    // The run created the burn-in window hidden and logged there.
    QVERIFY(windows->existingBurnIn());
    QVERIFY(!windows->existingBurnIn()->isVisible());
    QVERIFY(windows->existingBurnIn()->logText().startsWith(
        QStringLiteral("Burn-In Ready...-->Benchmark started at ")));
}

void TestMainWindow::missingLibraryIsReportedOnce()
{
    kernels->failure = QStringLiteral("no such file");
    MessageBoxAnswerer answer;
    clickBenchmark();
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.title, QStringLiteral("CPU - Orvane"));
    QCOMPARE(answer.seen.icon, QMessageBox::Critical);
    QVERIFY(answer.seen.text.contains(QStringLiteral("libkalvex.so")));
    QCOMPARE(child<QLabel>("lblstatus")->text(), QStringLiteral("\u00BB Benchmark Aborted!"));
    QCOMPARE(child<QPushButton>("Command1")->text(), QStringLiteral("Benchmark"));
}

// The clock takes milliseconds to measure: the window is painted first, and the clock field
// filled right after.
void TestMainWindow::clockMeasuredAfterTheFirstPaint()
{
    struct Processor final : ProcessorLibrary
    {
        void GetProcessor(char *name, char *, char *) override { qstrcpy(name, "Test CPU"); }
        void GetProcessorRawSpeed(char *speed) override
        {
            qstrcpy(speed, "1234 MHz");
            paintsAtMeasurement << paints;
        }
        int paints = 0;
        QList<int> paintsAtMeasurement;
    } processor;
    struct PaintCounter final : QObject
    {
        explicit PaintCounter(Processor &p) : processor(p) {}
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Paint && watched->objectName() == QLatin1String("form1"))
                ++processor.paints;
            return false;
        }
        Processor &processor;
    } counter(processor);
    qApp->installEventFilter(&counter);

    windows.reset();
    SystemProbe probe(host.os, processor, host.general);
    windows = std::make_unique<AppWindows>(*kernels, probe);
    QCOMPARE(child<QLineEdit>("txt2k")->text(), QString());
    QCOMPARE(child<QLineEdit>("Text3")->text(), QStringLiteral("Test CPU"));
    windows->start();
    QTRY_COMPARE(child<QLineEdit>("txt2k")->text(), QStringLiteral("1234 MHz"));
    qApp->removeEventFilter(&counter);
    QVERIFY(!processor.paintsAtMeasurement.isEmpty());
    QVERIFY2(processor.paintsAtMeasurement.first() >= 1, "the clock was measured before the "
                                                         "window was painted");
    windows.reset();
}

// The program's images are read by the built-in PNG reader: no image-format plug-in is loaded to
// guess what they are (each is a library of its own to load at start-up).
void TestMainWindow::startsWithoutImagePlugins()
{
    QVERIFY(!child<QLabel>("imgLogo")->pixmap().isNull());
    QVERIFY(
        !windows->burnIn()->findChild<QLabel *>(QStringLiteral("background"))->pixmap().isNull());
    QVERIFY(!qApp->windowIcon().isNull());
    QCOMPARE(qApp->windowIcon().availableSizes().size(), 5);
    QFile maps(QStringLiteral("/proc/self/maps"));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    const QByteArray mapped = maps.readAll();
    QVERIFY2(!mapped.contains("/imageformats/"), "an image-format plug-in was loaded");
}

// A refresh that reads the same clock leaves the field as it is: a selection made to copy it
// stays; a new reading replaces it.
void TestMainWindow::clockRefreshKeepsASelection()
{
    auto *clock = child<QLineEdit>("txt2k");
    windows->mainWindow()->setHostText(ProbeField::ClockSpeed, QStringLiteral("3000 MHz"));
    clock->selectAll();
    windows->mainWindow()->setHostText(ProbeField::ClockSpeed, QStringLiteral("3000 MHz"));
    QCOMPARE(clock->selectedText(), QStringLiteral("3000 MHz"));
    windows->mainWindow()->setHostText(ProbeField::ClockSpeed, QStringLiteral("3100 MHz"));
    QCOMPARE(clock->text(), QStringLiteral("3100 MHz"));
    QCOMPARE(clock->selectedText(), QString());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

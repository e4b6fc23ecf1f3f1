// The main window on a real desktop: an X server with the openbox window manager, started by
// run-on-desktop.sh. What the window manager and the user do from outside (the taskbar's
// restore, clicks, a resize) goes through the X server with xdotool; what the desktop then
// shows is read back with xprop and xwininfo, not from Qt.
#include "benchmark/burninwindow.h"
#include "benchmark/kernelthread.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "submit/submitwindow.h"
#include "sysinfo/linuxhost.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScreen>
#include <QSemaphore>
#include <QSignalSpy>

#include <memory>

namespace {

// Runs one of the X tools and returns what it printed; empty when it failed.
QString x11(const QString &program, const QStringList &arguments)
{
    QProcess process;
    // Names outside ASCII are printed as they are, not as octal escapes.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0) {
        process.kill();
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(arguments.join(u' ')),
                 process.readAllStandardError().constData());
        return {};
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QString id(const QWidget *window)
{
    return QString::number(window->winId());
}

// Where and how the X server shows the window.
struct Shown
{
    bool viewable = false;
    QRect geometry;
};

Shown shown(const QWidget *window)
{
    const QString info = x11(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id(window)});
    const auto number = [&info](const char *label) {
        const QRegularExpression re(QLatin1String(label) + QStringLiteral(":\\s+(-?\\d+)"));
        return re.match(info).captured(1).toInt();
    };
    return {info.contains(QStringLiteral("Map State: IsViewable")),
            QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"),
                  number("Height"))};
}

// The ICCCM state the window manager keeps on the window: "Normal" or "Iconic".
QString managerState(const QWidget *window)
{
    const QString state = x11(QStringLiteral("xprop"),
                              {QStringLiteral("-id"), id(window), QStringLiteral("WM_STATE")});
    return QRegularExpression(QStringLiteral("window state: (\\w+)")).match(state).captured(1);
}

// The name a taskbar shows for the window.
QString taskbarName(const QWidget *window)
{
    const QString name = x11(QStringLiteral("xprop"),
                             {QStringLiteral("-id"), id(window), QStringLiteral("_NET_WM_NAME")});
    return QRegularExpression(QStringLiteral("= \"(.*)\"")).match(name).captured(1);
}

// A window property as xprop prints it after the "=" (or ":"), empty when it is not set.
QString xProperty(const QWidget *window, const char *name)
{
    const QString line = x11(QStringLiteral("xprop"),
                             {QStringLiteral("-id"), id(window), QString::fromLatin1(name)});
    const QRegularExpression value(QStringLiteral("^[^=:]*[=:]\\s*(.*)$"));
    const auto match = value.match(line.trimmed());
    return line.contains(QStringLiteral("not found")) ? QString() : match.captured(1);
}

// The windows the window manager keeps, lowest first.
QStringList stacking()
{
    const QString line =
        x11(QStringLiteral("xprop"),
            {QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")});
    QStringList ids;
    const QRegularExpression hex(QStringLiteral("0x[0-9a-f]+"));
    for (auto it = hex.globalMatch(line); it.hasNext();)
        ids << QString::number(it.next().captured(0).toULongLong(nullptr, 16));
    return ids;
}

// A click of the real pointer, through the X server, at the centre of a control.
void clickWithPointer(QWidget *control, int button)
{
    const QPoint at = control->mapTo(control->window(), control->rect().center());
    x11(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--window"), id(control->window()),
         QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
         QString::number(button)});
}

// True when the X server shows the window as the program draws it: after a restore, before the
// program has painted it again, the server has nothing (black) there.
bool serverShowsTheWindow(QWidget *window)
{
    const QImage drawn = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage shown = window->screen()
                             ->grabWindow(window->winId())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    return !drawn.isNull() && drawn == shown;
}

// Handles every event but user input until the condition holds or 10 s pass: what the program
// does while a kernel runs.
bool waitWithoutInput(const std::function<bool()> &condition)
{
    QDeadlineTimer deadline(10000);
    while (!condition() && !deadline.hasExpired())
        QCoreApplication::processEvents(
            QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents, 50);
    return condition();
}

// Counts the events of one type an object receives.
class EventCounter : public QObject
{
public:
    EventCounter(QObject *target, QEvent::Type type) : m_type(type)
    {
        target->installEventFilter(this);
    }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            ++count;
        return false;
    }

private:
    QEvent::Type m_type;
};

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void taskbarNamesTheProgram();
    void minimiseRestoreAndRunKeepTheWindow();
    void expandedWindowStaysOnTheScreen();
    void glyphsAnswerThePrimaryButtonOnly_data();
    void glyphsAnswerThePrimaryButtonOnly();
    void frameKeeperUndoesAResizeFromOutside();
    void windowManagerNamesTheWindows();
    void burnInWindowHasNoTitleBar();
    void submissionWindowStaysAboveItsOwner();
    void windowRepaintsDuringAKernelAndClicksWait();

private:
    MainWindow *main() const { return windows->mainWindow(); }
    template<typename T> T *child(const char *name) { return control<T>(main(), name); }
    void minimiseWithTheGlyph()
    {
        clickLabel(child<QLabel>("lblMinimize"));
        QTRY_COMPARE_WITH_TIMEOUT(managerState(main()), QStringLiteral("Iconic"), 5000);
        QVERIFY(!shown(main()).viewable);
        QTRY_VERIFY_WITH_TIMEOUT(!main()->windowHandle()->isExposed(), 5000);
    }
    // What a taskbar does: ask the window manager to activate the window.
    void restoreFromTheTaskbar()
    {
        x11(QStringLiteral("xdotool"),
            {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id(main())});
        QTRY_VERIFY_WITH_TIMEOUT(shown(main()).viewable, 5000);
        // Let the program see its window back on the screen before a test clicks in it.
        QTRY_VERIFY_WITH_TIMEOUT(main()->windowHandle()->isExposed(), 5000);
    }

    LinuxHost host;
    std::unique_ptr<FakeKernels> kernels;
    std::unique_ptr<AppWindows> windows;
};

void TestDesktop::initTestCase()
{
    failOnUnexpectedBoxes();
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    Program::prepare(*qApp);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestDesktop::init()
{
    kernels = std::make_unique<FakeKernels>();
    windows = std::make_unique<AppWindows>(*kernels, host.probe);
    windows->start();
    QVERIFY(QTest::qWaitForWindowExposed(main()));
    QTRY_VERIFY_WITH_TIMEOUT(shown(main()).viewable, 5000);
}

void TestDesktop::cleanup()
{
    windows.reset();
    kernels.reset();
}

// The caption stays empty, yet the taskbar entry reads the program's name, not its file name.
void TestDesktop::taskbarNamesTheProgram()
{
    QVERIFY(main()->windowTitle().isEmpty());
    QCOMPARE(taskbarName(main()), QStringLiteral("CPU Orvane"));
    minimiseWithTheGlyph();
    QCOMPARE(taskbarName(main()), QStringLiteral("CPU Orvane"));
    restoreFromTheTaskbar();
    QTRY_VERIFY(main()->windowTitle().isEmpty());
    QCOMPARE(taskbarName(main()), QStringLiteral("CPU Orvane"));
}

// Minimised with the glyph and restored from the taskbar, the window stays up through every
// later run, and at its size.
void TestDesktop::minimiseRestoreAndRunKeepTheWindow()
{
    QPushButton *benchmark = child<QPushButton>("Command1");
    for (int round = 1; round <= 2; ++round) {
        minimiseWithTheGlyph();
        restoreFromTheTaskbar();
        for (int run = 1; run <= 2; ++run) {
            benchmark->click();
            QCOMPARE(child<QLabel>("lblstatus")->text(),
                     QStringLiteral("\u00BB Benchmark Complete."));
            QTRY_VERIFY2_WITH_TIMEOUT(shown(main()).viewable,
                                      qPrintable(QStringLiteral("round %1, run %2: %3")
                                                     .arg(round)
                                                     .arg(run)
                                                     .arg(managerState(main()))),
                                      5000);
            QCOMPARE(managerState(main()), QStringLiteral("Normal"));
            QVERIFY(!main()->isMinimized());
            QTRY_COMPARE_WITH_TIMEOUT(shown(main()).geometry.size(), QSize(646, 580), 5000);
        }
    }
}

// Centred at its collapsed height on a 1280 x 800 screen, the window would grow 580 pixels
// past the screen's lower edge: it moves up just enough.
void TestDesktop::expandedWindowStaysOnTheScreen()
{
    const QRect area = main()->screen()->availableGeometry();
    QCOMPARE(area.size(), QSize(1280, 800));
    const QRect before = shown(main()).geometry;
    QCOMPARE(before.size(), QSize(646, 148));

    child<QPushButton>("Command1")->click();
    QTRY_COMPARE_WITH_TIMEOUT(shown(main()).geometry,
                              QRect(before.x(), area.bottom() + 1 - 580, 646, 580), 5000);

    // A window dragged up to the top keeps its place: it fits below.
    main()->move(before.x(), area.top());
    QTRY_COMPARE_WITH_TIMEOUT(shown(main()).geometry.topLeft(), QPoint(before.x(), area.top()),
                              5000);
    child<QPushButton>("Command1")->click();
    QTRY_COMPARE_WITH_TIMEOUT(shown(main()).geometry, QRect(before.x(), area.top(), 646, 580),
                              5000);
}

void TestDesktop::glyphsAnswerThePrimaryButtonOnly_data()
{
    QTest::addColumn<int>("button");
    QTest::newRow("middle button") << 2;
    QTest::newRow("right button") << 3;
}

// Other buttons than the primary one do nothing on either glyph; the primary one minimises.
void TestDesktop::glyphsAnswerThePrimaryButtonOnly()
{
    QFETCH(int, button);
    for (const char *glyph : {"lbX", "lblMinimize"}) {
        QLabel *label = child<QLabel>(glyph);
        EventCounter releases(label, QEvent::MouseButtonRelease);
        clickWithPointer(label, button);
        QTRY_COMPARE_WITH_TIMEOUT(releases.count, 1, 5000);
        QVERIFY2(main()->isVisible() && !main()->isClosed(), glyph);
        QVERIFY2(!main()->isMinimized(), glyph);
        QCOMPARE(managerState(main()), QStringLiteral("Normal"));
    }
    clickWithPointer(child<QLabel>("lblMinimize"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(managerState(main()), QStringLiteral("Iconic"), 5000);
    restoreFromTheTaskbar();
}

// A resize from outside (another program, a window manager's key) is undone, collapsed and
// expanded alike. The window's own size limits would make the window manager refuse it, so the
// test lifts them, with the keeper stopped, and lets the keeper run again once the resize is done.
void TestDesktop::frameKeeperUndoesAResizeFromOutside()
{
    for (const QSize size : {QSize(646, 148), QSize(646, 580)}) {
        if (size.height() == 580)
            child<QPushButton>("Command1")->click();
        QTRY_COMPARE_WITH_TIMEOUT(shown(main()).geometry.size(), size, 5000);
        windows->frameKeeper().setEnabled(false);
        main()->setMinimumSize(0, 0);
        main()->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QCoreApplication::processEvents();
        x11(QStringLiteral("xdotool"), {QStringLiteral("windowsize"), id(main()),
                                        QStringLiteral("800"), QStringLiteral("400")});
        QTRY_COMPARE_WITH_TIMEOUT(shown(main()).geometry.size(), QSize(800, 400), 5000);
        windows->frameKeeper().setEnabled(true);
        QTRY_COMPARE_WITH_TIMEOUT(shown(main()).geometry.size(), size, 5000);
        QCOMPARE(main()->size(), size);
    }
}

// Each window's name on the desktop says what it is, though no caption is drawn.
void TestDesktop::windowManagerNamesTheWindows()
{
    windows->showBurnIn();
    QTRY_VERIFY_WITH_TIMEOUT(shown(windows->burnIn()).viewable, 5000);
    QCOMPARE(taskbarName(windows->burnIn()), QStringLiteral("CPU Orvane \u2013 Burn-In"));
    QVERIFY(windows->burnIn()->windowTitle().isEmpty());
    windows->showSubmit();
    QTRY_VERIFY_WITH_TIMEOUT(shown(windows->submit()).viewable, 5000);
    QCOMPARE(taskbarName(windows->submit()), QStringLiteral("CPU Orvane \u2013 Submit Results"));
    QCOMPARE(xProperty(windows->submit(), "WM_NAME"),
             QStringLiteral("\"CPU Orvane \u2013 Submit Results\""));
}

// The burn-in window draws its own look: the window manager adds no title bar, as for the main
// window.
void TestDesktop::burnInWindowHasNoTitleBar()
{
    windows->showBurnIn();
    QTRY_VERIFY_WITH_TIMEOUT(shown(windows->burnIn()).viewable, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!xProperty(windows->burnIn(), "_NET_FRAME_EXTENTS").isEmpty(), 5000);
    const QString extents = xProperty(windows->burnIn(), "_NET_FRAME_EXTENTS");
    QCOMPARE(extents, xProperty(main(), "_NET_FRAME_EXTENTS"));
    const QStringList sides = extents.split(QStringLiteral(", "));
    QCOMPARE(sides.size(), 4);
    QVERIFY2(sides[2].toInt() <= 1, qPrintable(extents)); // top: a border at most
}

// The submission window is owned by the main window at the window manager too: a click on the
// main window, which the dialog blocks, leaves the dialog on top, and it adds no taskbar entry.
void TestDesktop::submissionWindowStaysAboveItsOwner()
{
    windows->showSubmit();
    QWidget *submit = windows->submit();
    QTRY_VERIFY_WITH_TIMEOUT(shown(submit).viewable, 5000);
    QCOMPARE(xProperty(submit, "WM_TRANSIENT_FOR"),
             QStringLiteral("window id # 0x%1").arg(main()->winId(), 0, 16));
    QVERIFY(xProperty(submit, "_NET_WM_WINDOW_TYPE")
                .contains(QStringLiteral("_NET_WM_WINDOW_TYPE_DIALOG")));

    for (int click = 0; click < 2; ++click) {
        clickWithPointer(child<QLabel>("lblWelcome"), 1);
        QTRY_VERIFY_WITH_TIMEOUT(stacking().contains(id(submit)), 5000);
        const QStringList order = stacking();
        QVERIFY2(order.indexOf(id(submit)) > order.indexOf(id(main())),
                 qPrintable(order.join(u' ')));
        QVERIFY(submit->isVisible());
    }
    // Escape still reaches it: the window closes with the thank-you.
    MessageBoxAnswerer answer;
    x11(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"),
                                    id(submit), QStringLiteral("key"), QStringLiteral("Escape")});
    QTRY_COMPARE_WITH_TIMEOUT(answer.seen.count, 1, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!submit->isVisible(), 5000);
}

// A window minimised and restored while a kernel runs is painted at once, not left black until
// the kernel returns; a click on Abort meanwhile waits for the check after the kernel, which it
// ends the run at.
void TestDesktop::windowRepaintsDuringAKernelAndClicksWait()
{
    // The windows over kernels on their own thread, as the program has them.
    windows.reset();
    KernelThread thread(*kernels);
    windows = std::make_unique<AppWindows>(thread, host.probe);
    windows->start();
    QVERIFY(QTest::qWaitForWindowExposed(main()));
    QTRY_VERIFY_WITH_TIMEOUT(shown(main()).viewable, 5000);

    QSemaphore held;
    QSemaphore release;
    bool kernelReleased = false;
    kernels->onRun = [&](Kernel kernel, int) {
        if (kernel == Kernel::Pi) {
            held.release();
            kernelReleased = release.tryAcquire(1, 30000);
        }
    };
    QPushButton *benchmark = child<QPushButton>("Command1");
    QSignalSpy clicks(benchmark, &QAbstractButton::clicked);
    EventCounter releases(benchmark, QEvent::MouseButtonRelease);
    bool paintedWhileHeld = false;
    int clicksWhileHeld = -1;
    QString statusWhileHeld;
    // First, with the kernel held, the window is minimised, restored and must be painted, and a
    // click is sent. Then the program's own waiting goes on until it has seen the window
    // minimised and restored once more, which the X server tells it after the click: by then the
    // click has reached the program and must still be waiting.
    EventCounter exposes(main()->windowHandle(), QEvent::Expose);
    int exposeTarget = -1;
    QTimer during;
    connect(&during, &QTimer::timeout, this, [&] {
        if (exposeTarget < 0) {
            if (!held.tryAcquire())
                return;
            x11(QStringLiteral("xdotool"),
                {QStringLiteral("windowminimize"), QStringLiteral("--sync"), id(main())});
            waitWithoutInput([&] { return !main()->windowHandle()->isExposed(); });
            x11(QStringLiteral("xdotool"),
                {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id(main())});
            paintedWhileHeld = waitWithoutInput([&] { return serverShowsTheWindow(main()); });
            clickWithPointer(benchmark, 1);
            exposeTarget = exposes.count + 2;
            x11(QStringLiteral("xdotool"),
                {QStringLiteral("windowminimize"), QStringLiteral("--sync"), id(main())});
            x11(QStringLiteral("xdotool"),
                {QStringLiteral("windowactivate"), QStringLiteral("--sync"), id(main())});
            return;
        }
        if (exposes.count < exposeTarget)
            return;
        during.stop();
        clicksWhileHeld = releases.count;
        statusWhileHeld = child<QLabel>("lblstatus")->text();
        release.release();
    });
    during.start(10);

    MessageBoxAnswerer answer;
    benchmark->click();
    kernels->onRun = nullptr;

    QVERIFY(kernelReleased);
    QVERIFY2(paintedWhileHeld, "the restored window was not painted during the kernel");
    QCOMPARE(statusWhileHeld, QStringLiteral("\u00BB Running: Pi Calc test - cycle 1"));
    QCOMPARE(clicksWhileHeld, 0);
    // At the check after the kernel the click came through: Abort, the pi time shown, the power
    // test never run.
    QCOMPARE(releases.count, 1);
    QCOMPARE(clicks.count(), 2); // the click that started the run, then Abort
    QCOMPARE(child<QLabel>("lblstatus")->text(), QStringLiteral("\u00BB Benchmark Aborted!"));
    QCOMPARE(kernels->calls.size(), 6);
    QVERIFY(child<QLineEdit>("txt7")->text() != QStringLiteral("0"));
    QCOMPARE(child<QLineEdit>("txt8")->text(), QStringLiteral("0"));
    windows.reset();
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"

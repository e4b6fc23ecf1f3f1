// What assistive technology learns of the windows, read through Qt's accessibility interfaces
// as a screen reader's bridge reads them.
#include "benchmark/burninwindow.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "submit/submitwindow.h"
#include "sysinfo/linuxhost.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>

#include <memory>

namespace {

QAccessibleInterface *of(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

// Everything a screen reader can reach in a window that is reported as showing.
void collectShowing(QAccessibleInterface *node, QList<QAccessibleInterface *> &out)
{
    if (!node || node->state().invisible)
        return;
    out << node;
    for (int i = 0; i < node->childCount(); ++i)
        collectShowing(node->child(i), out);
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void fieldsSayWhatTheyHold_data();
    void fieldsSayWhatTheyHold();
    void everyShownFieldHasItsOwnName();
    void glyphsAreButtons_data();
    void glyphsAreButtons();
    void glyphsPressedByTheAction();
    void glyphsPressedByTheKeyboard();
    void decorationIsHidden();
    void ownBarAnnouncesTheScore();
    void belowTheCollapsedEdgeIsNotShowing();
    void windowsHaveNames();

private:
    MainWindow *main() const { return windows->mainWindow(); }
    template<typename T> T *child(const char *name) { return control<T>(main(), name); }

    LinuxHost host;
    std::unique_ptr<FakeKernels> kernels;
    std::unique_ptr<AppWindows> windows;
};

void TestAccessibility::initTestCase()
{
    failOnUnexpectedBoxes();
    Program::prepare(*qApp);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestAccessibility::init()
{
    kernels = std::make_unique<FakeKernels>();
    windows = std::make_unique<AppWindows>(*kernels, host.probe);
    windows->start();
    QVERIFY(QTest::qWaitForWindowExposed(main()));
}

void TestAccessibility::cleanup()
{
    windows.reset();
    kernels.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestAccessibility::fieldsSayWhatTheyHold_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("name");
    const char *const rows[][2] = {
        {"Text3", "Processor name"},
        {"Text5", "Operating system"},
        {"Text4", "Physical memory"},
        {"txt2k", "Processor clock speed"},
        {"txtproc2", "Number of processors"},
        {"txt1", "Addition time in seconds"},
        {"txt2", "Subtraction time in seconds"},
        {"txt3", "Multiplication time in seconds"},
        {"txt4", "Division time in seconds"},
        {"txtTotal", "Simple math total in seconds"},
        {"txt6", "Prime number test result"},
        {"txt5", "Prime number test time in seconds"},
        {"Text1", "Calculated value of pi"},
        {"txt7", "Pi calculation time in seconds"},
        {"Text2", "Power test result"},
        {"txt8", "Power test time in seconds"},
        {"txtcomptotal", "Complex math total in seconds"},
        {"txtTotal2", "Score"},
    };
    for (const auto &row : rows)
        QTest::newRow(row[0]) << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1]);
}

void TestAccessibility::fieldsSayWhatTheyHold()
{
    QFETCH(QString, field);
    QFETCH(QString, name);
    QWidget *widget = main()->findChild<QWidget *>(field);
    QVERIFY(widget);
    QCOMPARE(of(widget)->text(QAccessible::Name), name);
}

// In the expanded window, every text field a screen reader reaches has a name of its own: none
// is announced by its frame's caption or by nothing.
void TestAccessibility::everyShownFieldHasItsOwnName()
{
    child<QPushButton>("Command1")->click();
    QList<QAccessibleInterface *> showing;
    collectShowing(of(main()), showing);

    QStringList captions;
    const auto frames = main()->findChildren<QGroupBox *>();
    for (const QGroupBox *frame : frames)
        captions << frame->title();
    QStringList names;
    for (QAccessibleInterface *node : std::as_const(showing)) {
        if (node->role() != QAccessible::EditableText)
            continue;
        const QString name = node->text(QAccessible::Name);
        const QString control = node->object()->objectName();
        QVERIFY2(!name.isEmpty(), qPrintable(control));
        QVERIFY2(!captions.contains(name), qPrintable(control + QStringLiteral(": ") + name));
        QVERIFY2(!names.contains(name), qPrintable(control + QStringLiteral(": ") + name));
        names << name;
    }
    QCOMPARE(names.size(), 18);
}

void TestAccessibility::glyphsAreButtons_data()
{
    QTest::addColumn<QString>("glyph");
    QTest::addColumn<QString>("name");
    QTest::newRow("minimise") << QStringLiteral("lblMinimize") << QStringLiteral("Minimise");
    QTest::newRow("close") << QStringLiteral("lbX") << QStringLiteral("Close");
}

void TestAccessibility::glyphsAreButtons()
{
    QFETCH(QString, glyph);
    QFETCH(QString, name);
    QAccessibleInterface *button = of(main()->findChild<QLabel *>(glyph));
    QCOMPARE(button->role(), QAccessible::Button);
    QCOMPARE(button->text(QAccessible::Name), name);
    QVERIFY(button->state().focusable);
    QVERIFY(!button->state().invisible);
    QVERIFY(button->actionInterface());
    QCOMPARE(button->actionInterface()->actionNames(),
             QStringList{QAccessibleActionInterface::pressAction()});
}

void TestAccessibility::glyphsPressedByTheAction()
{
    const QString press = QAccessibleActionInterface::pressAction();
    // A disabled glyph is not pressed, by the action either.
    child<QLabel>("lblMinimize")->setEnabled(false);
    of(child<QLabel>("lblMinimize"))->actionInterface()->doAction(press);
    QVERIFY(!main()->isMinimized());
    child<QLabel>("lblMinimize")->setEnabled(true);
    of(child<QLabel>("lblMinimize"))->actionInterface()->doAction(press);
    QVERIFY(main()->isMinimized());
    main()->setWindowState(Qt::WindowNoState);
    of(child<QLabel>("lbX"))->actionInterface()->doAction(press);
    QVERIFY(main()->isClosed());
}

// Tab reaches the glyphs after the buttons; Space presses the one with the focus, Enter too.
void TestAccessibility::glyphsPressedByTheKeyboard()
{
    main()->activateWindow();
    QTRY_VERIFY(main()->isActiveWindow());
    child<QPushButton>("cmdAbout")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(main(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>("lblMinimize"));
    // A key held down repeats its press; only the first one counts.
    QKeyEvent repeated(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(QApplication::focusWidget(), &repeated);
    QVERIFY(!main()->isMinimized());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(main()->isMinimized());

    main()->setWindowState(Qt::WindowNoState);
    main()->activateWindow();
    QTRY_VERIFY(main()->isActiveWindow());
    child<QWidget>("lblMinimize")->setFocus(Qt::TabFocusReason);
    QTest::keyClick(main(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>("lbX"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QVERIFY(main()->isClosed());
}

// Lines and bars that only decorate are not reported as showing: about thirty of them would
// otherwise be announced as "frame".
void TestAccessibility::decorationIsHidden()
{
    child<QPushButton>("Command1")->click();
    int decorations = 0;
    const auto frames = main()->findChildren<QFrame *>();
    for (QFrame *frame : frames) {
        const QString name = frame->objectName();
        const bool line = name.startsWith(QLatin1String("Line"));
        const bool bar = name.startsWith(QLatin1String("shape"), Qt::CaseInsensitive);
        if (!line && !bar)
            continue;
        if (name == QLatin1String("Shape1"))
            QVERIFY(!of(frame)->state().invisible);
        else {
            QVERIFY2(of(frame)->state().invisible, qPrintable(name));
            ++decorations;
        }
    }
    QCOMPARE(decorations, 31);
}

void TestAccessibility::ownBarAnnouncesTheScore()
{
    child<QPushButton>("Command1")->click();
    QCOMPARE(of(child<QFrame>("Shape1"))->text(QAccessible::Name),
             QStringLiteral("Your CPU: 1.75 seconds"));
}

// While the window is collapsed, what lies below its edge is out of sight, and reported so.
void TestAccessibility::belowTheCollapsedEdgeIsNotShowing()
{
    for (const char *below : {"txt1", "txtTotal2", "Command6", "Command2", "frResults"})
        QVERIFY2(of(child<QWidget>(below))->state().invisible, below);
    for (const char *above : {"Text3", "Command1", "lblMinimize"})
        QVERIFY2(!of(child<QWidget>(above))->state().invisible, above);

    child<QPushButton>("Command1")->click();
    for (const char *below : {"txt1", "txtTotal2", "Command6", "Command2", "frResults"})
        QVERIFY2(!of(child<QWidget>(below))->state().invisible, below);
    // The hidden Load / Save frame stays out of reach.
    QVERIFY(of(child<QWidget>("frFiles"))->state().invisible);
}

void TestAccessibility::windowsHaveNames()
{
    QCOMPARE(of(main())->text(QAccessible::Name), QStringLiteral("CPU Orvane"));
    QCOMPARE(of(windows->burnIn())->text(QAccessible::Name), QStringLiteral("CPU Orvane Burn-In"));
    QCOMPARE(of(windows->submit())->text(QAccessible::Name),
             QStringLiteral("CPU Orvane Submit Results"));
    for (const char *field : {"Text1", "Text2"})
        QVERIFY(!of(control<QWidget>(windows->burnIn(), field))->text(QAccessible::Name).isEmpty());
    for (const char *field : {"txtIP", "Text7", "Text6", "Text3"})
        QVERIFY(!of(control<QWidget>(windows->submit(), field))->text(QAccessible::Name).isEmpty());
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

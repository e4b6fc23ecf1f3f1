// What assistive technology learns of the windows, read through Qt's accessibility interfaces
// as a screen reader's bridge reads them.
#include "benchmark/burninwindow.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/aboutwindow.h"
#include "shell/accessibletext.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "submit/submitwindow.h"
#include "sysinfo/linuxhost.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>

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
    void windowsAreWindowsAndDialogs();
    void ownBarIsAPlainItem();
    void emptyLabelsAreNotShowing();
    void glyphDescriptionIsNotTheirName();
    void statusLineAnnouncesTheRun();
    void readOnlyFieldsRefuseEdits_data();
    void readOnlyFieldsRefuseEdits();
    void editableFieldTakesEditsLikeTyping();
    void blockedWindowsDoNothing_data();
    void blockedWindowsDoNothing();
    void buttonsPressedByTheAction();
    void pressBlockedBeforeItIsCarriedOut();
    void scrollBarsArePartsOfTheirField();

private:
    MainWindow *main() const { return windows->mainWindow(); }
    template<typename T> T *child(const char *name) { return control<T>(main(), name); }
    QWidget *topLevel(const QString &name)
    {
        if (name == QLatin1String("burn-in"))
            return windows->burnIn();
        if (name == QLatin1String("submit"))
            return windows->submit();
        return main();
    }

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

// Each field is named by the label beside it (the name starts with the label's text, and the
// label names the field as its buddy); fields without a label say what they hold.
void TestAccessibility::fieldsSayWhatTheyHold_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("name");
    const char *const rows[][4] = {
        {"main", "Text3", "", "Processor name"},
        {"main", "Text5", "", "Operating system"},
        {"main", "Text4", "", "Physical memory"},
        {"main", "txt2k", "", "Processor clock speed"},
        {"main", "txtproc2", "", "Number of processors"},
        {"main", "txt1", "label1", "Addition time in seconds"},
        {"main", "txt2", "Label2", "Subtraction time in seconds"},
        {"main", "txt3", "Label3", "Multiplication time in seconds"},
        {"main", "txt4", "Label4", "Division time in seconds"},
        {"main", "txtTotal", "Label5", "Simple Math total in seconds"},
        {"main", "txt6", "Label6", "Prime Number Check result"},
        {"main", "txt5", "", "Prime Number Check time in seconds"},
        {"main", "Text1", "Label20", "Calculating PI to 250000000 Iterations: value"},
        {"main", "txt7", "", "Calculating PI to 250000000 Iterations: time in seconds"},
        {"main", "Text2", "Label21", "Power Test result"},
        {"main", "txt8", "", "Power Test time in seconds"},
        {"main", "txtcomptotal", "Label9", "Complex Math total in seconds"},
        {"main", "txtTotal2", "lblTotal", "Total Time in seconds"},
        {"burn-in", "Text1", "lblCycle", "Cycle"},
        {"burn-in", "Text2", "", "Run log"},
        {"submit", "txtIP", "lblServerIP", "Server IP"},
        {"submit", "Text7", "lblNickname", "Nickname"},
        {"submit", "Text6", "lblScore", "Total Score"},
        {"submit", "Text3", "", "Server reply"},
    };
    for (const auto &row : rows) {
        QTest::addRow("%s %s", row[0], row[1])
            << QString::fromLatin1(row[0]) << QString::fromLatin1(row[1])
            << QString::fromLatin1(row[2]) << QString::fromLatin1(row[3]);
    }
}

void TestAccessibility::fieldsSayWhatTheyHold()
{
    QFETCH(QString, window);
    QFETCH(QString, field);
    QFETCH(QString, label);
    QFETCH(QString, name);
    QWidget *top = topLevel(window);
    QWidget *widget = top->findChild<QWidget *>(field);
    QVERIFY(widget);
    QCOMPARE(of(widget)->text(QAccessible::Name), name);
    if (!label.isEmpty()) {
        auto *shown = top->findChild<QLabel *>(label);
        QVERIFY(shown);
        QCOMPARE(shown->buddy(), widget);
        QString text = shown->text();
        if (text.endsWith(u':'))
            text.chop(1);
        QVERIFY2(name.startsWith(text), qPrintable(text));
    }
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

// A screen reader tells windows from dialogs by their role; a plain top-level widget would be
// reported as a "filler".
void TestAccessibility::windowsAreWindowsAndDialogs()
{
    QCOMPARE(of(main())->role(), QAccessible::Window);
    QCOMPARE(of(windows->burnIn())->role(), QAccessible::Window);
    QCOMPARE(of(windows->submit())->role(), QAccessible::Dialog);
    MessageBoxAnswerer answer;
    QTimer::singleShot(0, this, [this] {
        QTRY_VERIFY(windows->about() && windows->about()->isVisible());
        QCOMPARE(of(windows->about())->role(), QAccessible::Dialog);
        windows->about()->reject();
    });
    windows->showAbout();
    QVERIFY(windows->about() == nullptr || !windows->about()->isVisible());
}

// The own bar is an item of the chart that says its value, inside the window, not a frame.
void TestAccessibility::ownBarIsAPlainItem()
{
    child<QPushButton>("Command1")->click();
    QAccessibleInterface *bar = of(child<QFrame>("Shape1"));
    QCOMPARE(bar->role(), QAccessible::StaticText);
    QVERIFY(!bar->state().invisible);
    QCOMPARE(bar->parent()->object(), child<QWidget>("frResults"));
}

// Labels that show nothing are passed over: the Results frame would otherwise be read as
// "Results, Results". Once a loaded result gives them words, they are read.
void TestAccessibility::emptyLabelsAreNotShowing()
{
    child<QPushButton>("Command1")->click();
    QList<QAccessibleInterface *> showing;
    collectShowing(of(main()), showing);
    int labels = 0;
    for (QAccessibleInterface *node : std::as_const(showing)) {
        const auto *label = qobject_cast<QLabel *>(node->object());
        if (!label)
            continue;
        // Qt names an empty label by its frame's caption: what it says itself must be there.
        QVERIFY2(!label->text().isEmpty() || !label->accessibleName().isEmpty(),
                 qPrintable(label->objectName()));
        QVERIFY2(!node->text(QAccessible::Name).isEmpty(), qPrintable(label->objectName()));
        ++labels;
    }
    QVERIFY(labels > 30);

    LoadedResult loaded;
    loaded.title = QStringLiteral("Office PC");
    loaded.figure = QStringLiteral("9.5s");
    loaded.barTwips = 285;
    loaded.figureLeftTwips = 3000;
    main()->showLoadedResult(loaded);
    QAccessibleInterface *title = of(child<QLabel>("lblcustom"));
    QVERIFY(!title->state().invisible);
    QCOMPARE(title->text(QAccessible::Name), QStringLiteral("Office PC"));
    QVERIFY(!of(child<QLabel>("lblload"))->state().invisible);
}

// A description equal to the name is spoken after it: "Close, Close".
void TestAccessibility::glyphDescriptionIsNotTheirName()
{
    for (const char *glyph : {"lblMinimize", "lbX"}) {
        QAccessibleInterface *button = of(child<QLabel>(glyph));
        QVERIFY(!button->text(QAccessible::Name).isEmpty());
        QVERIFY2(button->text(QAccessible::Description) != button->text(QAccessible::Name), glyph);
    }
}

// The status line is a status bar named by what it says (its events reach a screen reader on
// the desktop, see the accessibility-bus test); at the end of a run it says the score too.
void TestAccessibility::statusLineAnnouncesTheRun()
{
    QLabel *status = child<QLabel>("lblstatus");
    QCOMPARE(of(status)->role(), QAccessible::StatusBar);
    QCOMPARE(of(status)->text(QAccessible::Name), QStringLiteral("Stable and Awaiting Action"));

    QStringList names;
    kernels->onRun = [&](Kernel, int) {
        names << of(status)->text(QAccessible::Name);
    };
    child<QPushButton>("Command1")->click();
    kernels->onRun = nullptr;
    QVERIFY2(names.contains(QStringLiteral("Running: Addition Test - cycle 1")),
             qPrintable(names.join(u'|')));
    const QString score = QStringLiteral("Benchmark Complete. Total Time: ") +
                          child<QLineEdit>("txtTotal2")->text() + QStringLiteral(" seconds.");
    QCOMPARE(of(status)->text(QAccessible::Name), score);
    QCOMPARE(status->text(), QStringLiteral("\u00BB Benchmark Complete."));

    // The next change of status ends the announcement.
    main()->setStatus(QStringLiteral("\u00BB Benchmark Aborted!"));
    QCOMPARE(of(status)->text(QAccessible::Name), QStringLiteral("Benchmark Aborted!"));
}

void TestAccessibility::readOnlyFieldsRefuseEdits_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("field");
    QTest::newRow("processor name") << QStringLiteral("main") << QStringLiteral("Text3");
    QTest::newRow("score") << QStringLiteral("main") << QStringLiteral("txtTotal2");
    QTest::newRow("power result") << QStringLiteral("main") << QStringLiteral("Text2");
    QTest::newRow("run log") << QStringLiteral("burn-in") << QStringLiteral("Text2");
    QTest::newRow("server reply") << QStringLiteral("submit") << QStringLiteral("Text3");
}

// A read-only field is read-only for assistive technology too: it offers no editing, and a new
// value set through it changes nothing.
void TestAccessibility::readOnlyFieldsRefuseEdits()
{
    QFETCH(QString, window);
    QFETCH(QString, field);
    child<QPushButton>("Command1")->click();
    QWidget *top = topLevel(window);
    QWidget *widget = top->findChild<QWidget *>(field);
    QAccessibleInterface *iface = of(widget);
    const QString before = iface->text(QAccessible::Value);
    QVERIFY(iface->state().readOnly);
    QVERIFY(!iface->state().editable);
    QVERIFY(iface->textInterface());
    QCOMPARE(iface->textInterface()->text(0, iface->textInterface()->characterCount()), before);
    QVERIFY(!iface->editableTextInterface());
    iface->setText(QAccessible::Value, QStringLiteral("HACKED"));
    QCOMPARE(iface->text(QAccessible::Value), before);
    // Even a client that kept an editing interface from before gets nowhere.
    auto *editing =
        static_cast<QAccessibleEditableTextInterface *>(dynamic_cast<TextFieldAccessible *>(iface));
    QVERIFY(editing);
    editing->replaceText(0, iface->textInterface()->characterCount(), QStringLiteral("HACKED"));
    editing->insertText(0, QStringLiteral("HACKED"));
    editing->deleteText(0, 1);
    QCOMPARE(iface->text(QAccessible::Value), before);
}

// The count field takes edits as it takes typing: within its limits, caret and all.
void TestAccessibility::editableFieldTakesEditsLikeTyping()
{
    auto *count = control<QLineEdit>(windows->burnIn(), "Text1");
    QAccessibleInterface *iface = of(count);
    QVERIFY(iface->state().editable);
    QVERIFY(iface->editableTextInterface());
    iface->editableTextInterface()->replaceText(0, iface->textInterface()->characterCount(),
                                                QStringLiteral("12"));
    QCOMPARE(count->text(), QStringLiteral("12"));
    iface->editableTextInterface()->insertText(2, QStringLiteral("5"));
    QCOMPARE(count->text(), QStringLiteral("125"));
    QCOMPARE(iface->textInterface()->cursorPosition(), 3);
    iface->editableTextInterface()->deleteText(0, 1);
    QCOMPARE(count->text(), QStringLiteral("25"));
    // Out of range: nothing happens, nothing breaks.
    iface->editableTextInterface()->deleteText(1, 9);
    iface->editableTextInterface()->insertText(-1, QStringLiteral("x"));
    QCOMPARE(count->text(), QStringLiteral("25"));
    iface->textInterface()->setSelection(0, 0, 1);
    int start = -1;
    int end = -1;
    iface->textInterface()->selection(0, &start, &end);
    QCOMPARE(std::pair(start, end), std::pair(0, 1));
    QCOMPARE(count->selectedText(), QStringLiteral("2"));
}

void TestAccessibility::blockedWindowsDoNothing_data()
{
    QTest::addColumn<QString>("modal");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("blocked");
    const QString submission = QStringLiteral("submission");
    const QString box = QStringLiteral("application-modal");
    const QString main = QStringLiteral("main");
    const QString burnIn = QStringLiteral("burn-in");
    QTest::newRow("About, submission open") << submission << main << "cmdAbout" << true;
    QTest::newRow("Benchmark, submission open") << submission << main << "Command1" << true;
    QTest::newRow("Burn-In, submission open") << submission << main << "Command7" << true;
    // The submission window belongs to the main window: the burn-in window takes clicks and
    // typing while it is open, and its controls act through assistive technology too.
    QTest::newRow("Close, submission open") << submission << burnIn << "Command2" << false;
    QTest::newRow("About, box open") << box << main << "cmdAbout" << true;
    QTest::newRow("Close, box open") << box << burnIn << "Command2" << true;
}

// While a modal window is open, the windows it blocks do nothing when their controls are pressed,
// focused or edited through assistive technology, as they do nothing for the mouse.
void TestAccessibility::blockedWindowsDoNothing()
{
    QFETCH(QString, modal);
    QFETCH(QString, window);
    QFETCH(QString, button);
    QFETCH(bool, blocked);
    windows->showBurnIn();
    auto *pressed = topLevel(window)->findChild<QPushButton *>(button);
    QVERIFY(pressed);
    auto *count = control<QLineEdit>(windows->burnIn(), "Text1");
    QWidget *focusBefore = main()->focusWidget();

    QDialog box;
    MessageBoxAnswerer answer;
    if (modal == QLatin1String("submission")) {
        windows->showSubmit();
        QTRY_VERIFY(windows->submit()->isVisible());
    } else {
        box.setWindowModality(Qt::ApplicationModal);
        box.show();
    }

    QSignalSpy clicks(pressed, &QAbstractButton::clicked);
    of(pressed)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    of(child<QWidget>("Text3"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::setFocusAction());
    of(child<QLabel>("lblMinimize"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    of(count)->setText(QAccessible::Value, QStringLiteral("99"));
    // Editing stays on offer (tools keep what an object offers), refused while blocked.
    QVERIFY(of(count)->editableTextInterface());
    of(count)->editableTextInterface()->insertText(0, QStringLiteral("9"));
    QCOMPARE(main()->focusWidget(), focusBefore == child<QWidget>("Text3") ? nullptr : focusBefore);
    QVERIFY(!main()->isMinimized());
    if (blocked) {
        QVERIFY(!pressed->isDown());
        QCoreApplication::processEvents();
        QCOMPARE(clicks.count(), 0);
    } else {
        QTRY_COMPARE(clicks.count(), 1);
    }
    QCOMPARE(count->text(),
             modal == QLatin1String("submission") ? QStringLiteral("999") : QStringLiteral("1"));

    if (modal == QLatin1String("submission")) {
        // The submission window's own controls still work: Close closes it.
        auto *close = control<QPushButton>(windows->submit(), "Command1");
        of(close)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(!windows->submit()->isVisible());
    }
}

// Unblocked, a button's press action clicks it once, after the request has returned.
void TestAccessibility::buttonsPressedByTheAction()
{
    auto *burnIn = child<QPushButton>("Command7");
    QSignalSpy clicks(burnIn, &QAbstractButton::clicked);
    QAccessibleInterface *iface = of(burnIn);
    QCOMPARE(iface->role(), QAccessible::Button);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Burn-In"));
    // Named by its caption, not by the frame it stands in.
    QCOMPARE(of(child<QPushButton>("Command2"))->text(QAccessible::Name),
             QStringLiteral("Next Comparison"));
    QVERIFY(iface->actionInterface()->actionNames().contains(
        QAccessibleActionInterface::pressAction()));
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(clicks.count(), 0);
    QTRY_COMPARE(clicks.count(), 1);
    QTRY_VERIFY(windows->burnIn()->isVisible());
    // A disabled button is not pressed.
    child<QPushButton>("Command6")->setEnabled(false);
    QSignalSpy submits(child<QPushButton>("Command6"), &QAbstractButton::clicked);
    of(child<QPushButton>("Command6"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    QVERIFY(!child<QPushButton>("Command6")->isDown());
}

// A press is carried out a moment after the request; a modal window that opens in between
// blocks it, as it would block a click.
void TestAccessibility::pressBlockedBeforeItIsCarriedOut()
{
    auto *about = child<QPushButton>("cmdAbout");
    QSignalSpy clicks(about, &QAbstractButton::clicked);
    of(about)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QDialog box;
    box.setWindowModality(Qt::ApplicationModal);
    box.show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(clicks.count(), 0);
}

// A field's scroll bars are its parts, and each part names the field as its whole.
void TestAccessibility::scrollBarsArePartsOfTheirField()
{
    windows->showBurnIn();
    auto *log = control<QPlainTextEdit>(windows->burnIn(), "Text2");
    QString many;
    for (int line = 0; line < 50; ++line)
        many += QStringLiteral("Cycle %1 Completed.\n").arg(line);
    log->setPlainText(many);
    QTRY_VERIFY(log->verticalScrollBar()->isVisible());
    QAccessibleInterface *field = of(log);
    QVERIFY(field->childCount() >= 1);
    for (int i = 0; i < field->childCount(); ++i) {
        QAccessibleInterface *part = field->child(i);
        QVERIFY(part);
        QCOMPARE(part->parent()->object(), log);
        QCOMPARE(field->indexOfChild(part), i);
    }
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"

// The installed program as a screen reader meets it: its windows, fields and status line read
// over the accessibility bus, its buttons pressed and its fields edited through it.
#include "atspiclient.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestAtSpi : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowsAreFramesAndDialogs();
    // The first run of the program: the events it sends are all of that run.
    void runIsAnnouncedWithItsScore();
    void fieldsAreNamedByTheirLabels();
    void readOnlyFieldRefusesNewText();
    void blockedWindowIgnoresPresses();
    void answersDuringAKernel();

private:
    // The first showing object below the node with this role whose name starts so.
    AtSpiNode find(const AtSpiNode &under, const QString &role, const QString &name = {});
    AtSpiNode window(const QString &role, const QString &name);
    QStringList namesAnnounced(const QString &path);
    // The main window once a run has ended (the first run grows the window).
    AtSpiNode mainAfterARun();

    AtSpiClient atspi;
    AtSpiEventLog log{atspi.bus()};
    QTemporaryDir folder;
    QProcess program;
    AtSpiNode app;
};

void TestAtSpi::initTestCase()
{
    const QString reason = atspi.connect();
    QVERIFY2(reason.isEmpty(), qPrintable(reason));
    atspi.listen({QStringLiteral("object:property-change:accessible-name"),
                  QStringLiteral("object:state-changed:showing"),
                  QStringLiteral("object:children-changed")},
                 {QStringLiteral("PropertyChange"), QStringLiteral("StateChanged"),
                  QStringLiteral("ChildrenChanged")},
                 &log);

    // The program beside a kernel library whose kernels take no time.
    QVERIFY(folder.isValid());
    const QString binary = folder.filePath(QStringLiteral("orvane"));
    QVERIFY(QFile::copy(QStringLiteral(ORVANE), binary));
    QVERIFY(QFile::copy(QStringLiteral(FIXED_KERNELS),
                        folder.filePath(QStringLiteral("libkalvex.so.1"))));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("HOME"), folder.path());
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(binary, {});
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const AtSpiNode &node : atspi.applications()) {
                if (atspi.name(node) == QLatin1String("orvane") &&
                    !atspi.children(node).isEmpty()) {
                    app = node;
                    return true;
                }
            }
            return false;
        }(),
        20000);
}

void TestAtSpi::cleanupTestCase()
{
    program.kill();
    program.waitForFinished();
}

AtSpiNode TestAtSpi::find(const AtSpiNode &under, const QString &role, const QString &name)
{
    const QList<AtSpiNode> nodes = atspi.showing(under);
    for (const AtSpiNode &node : nodes) {
        if (atspi.role(node) == role && atspi.name(node).startsWith(name))
            return node;
    }
    return {};
}

AtSpiNode TestAtSpi::window(const QString &role, const QString &name)
{
    const QList<AtSpiNode> windows = atspi.children(app);
    for (const AtSpiNode &node : windows) {
        if (atspi.role(node) == role && atspi.name(node) == name)
            return node;
    }
    return {};
}

QStringList TestAtSpi::namesAnnounced(const QString &path)
{
    QStringList names;
    for (const AtSpiEvent &event : std::as_const(log.events)) {
        if (event.path == path && event.kind == QLatin1String("PropertyChange") &&
            event.detail == QLatin1String("accessible-name"))
            names << event.value;
    }
    return names;
}

AtSpiNode TestAtSpi::mainAfterARun()
{
    AtSpiNode main = window(QStringLiteral("frame"), QStringLiteral("CPU Orvane"));
    const auto submit = [&] {
        return find(main, QStringLiteral("push button"), QStringLiteral("Submit Results"));
    };
    if (submit().isNull() || !atspi.has(submit(), AtSpiState::Enabled)) {
        atspi.doAction(find(main, QStringLiteral("push button"), QStringLiteral("Benchmark")),
                       QStringLiteral("Press"));
        [&] {
            QTRY_VERIFY_WITH_TIMEOUT(!submit().isNull() && atspi.has(submit(), AtSpiState::Enabled),
                                     20000);
        }();
    }
    return main;
}

// The main window is a frame and nothing at the top is a mere "filler".
void TestAtSpi::windowsAreFramesAndDialogs()
{
    const QList<AtSpiNode> windows = atspi.children(app);
    QVERIFY(!windows.isEmpty());
    for (const AtSpiNode &node : windows)
        QVERIFY2(atspi.role(node) != QLatin1String("filler"), qPrintable(atspi.name(node)));
    QVERIFY(!window(QStringLiteral("frame"), QStringLiteral("CPU Orvane")).isNull());
}

// A voice-control user says what they see: each field is named by the label beside it, each
// button by its caption, and no label is named by its frame's caption.
void TestAtSpi::fieldsAreNamedByTheirLabels()
{
    const AtSpiNode main = mainAfterARun();
    QStringList texts;
    QStringList labels;
    QStringList buttons;
    QStringList panels;
    for (const AtSpiNode &node : atspi.showing(main)) {
        const QString role = atspi.role(node);
        const QString name = atspi.name(node);
        if (role == QLatin1String("text"))
            texts << name;
        else if (role == QLatin1String("label"))
            labels << name;
        else if (role == QLatin1String("push button"))
            buttons << name;
        else if (role == QLatin1String("panel"))
            panels << name;
    }
    for (const char *name : {"Total Time in seconds", "Addition time in seconds",
                             "Prime Number Check result", "Power Test time in seconds"})
        QVERIFY2(texts.contains(QLatin1String(name)), qPrintable(texts.join(u'|')));
    QVERIFY(!texts.contains(QStringLiteral("Score")));
    for (const char *name : {"Benchmark", "Burn-In", "About", "Next Comparison", "Submit Results"})
        QVERIFY2(buttons.contains(QLatin1String(name)), qPrintable(buttons.join(u'|')));
    for (const QString &label : std::as_const(labels))
        QVERIFY2(!label.isEmpty() && !panels.contains(label), qPrintable(label));
    // The own bar is a plain item that says the score.
    QVERIFY(!find(main, QStringLiteral("label"), QStringLiteral("Your CPU: ")).isNull());
}

// The status line is a status bar whose changes are sent as they happen; the last one of a run
// says the score.
void TestAtSpi::runIsAnnouncedWithItsScore()
{
    const AtSpiNode main = window(QStringLiteral("frame"), QStringLiteral("CPU Orvane"));
    const AtSpiNode status = find(main, QStringLiteral("status bar"));
    QVERIFY(!status.isNull());
    QVERIFY(namesAnnounced(status.path).isEmpty());
    QVERIFY(atspi.doAction(find(main, QStringLiteral("push button"), QStringLiteral("Benchmark")),
                           QStringLiteral("Press")));
    // One change for each of the seven kernels, the end, and the score. A screen reader asks
    // for the name when told of a change, so it may hear a later one; the changes may also
    // reach it after the run has ended.
    QTRY_VERIFY_WITH_TIMEOUT(
        namesAnnounced(status.path).size() >= 9 &&
            namesAnnounced(status.path).last().contains(QStringLiteral("Total Time: ")),
        20000);
    const QStringList names = namesAnnounced(status.path);
    const QString score =
        atspi.text(find(main, QStringLiteral("text"), QStringLiteral("Total Time")));
    QCOMPARE(names.last(),
             QStringLiteral("Benchmark Complete. Total Time: %1 seconds.").arg(score));
    QCOMPARE(atspi.name(status), names.last());
}

// A read-only field offers no editing, and a client that tries anyway changes nothing.
void TestAtSpi::readOnlyFieldRefusesNewText()
{
    const AtSpiNode main = mainAfterARun();
    for (const char *name : {"Processor name", "Total Time in seconds"}) {
        const AtSpiNode field = find(main, QStringLiteral("text"), QLatin1String(name));
        QVERIFY2(!field.isNull(), name);
        const QString before = atspi.text(field);
        QVERIFY(!atspi.interfaces(field).contains(QStringLiteral("org.a11y.atspi.EditableText")));
        QVERIFY(!atspi.has(field, AtSpiState::Editable));
        atspi.call(field, QStringLiteral("org.a11y.atspi.EditableText"),
                   QStringLiteral("SetTextContents"), QStringLiteral("HACKED"));
        QCOMPARE(atspi.text(field), before);
    }
}

// With the submission window open, About pressed through the bus opens nothing: the main window
// is blocked, as it is for the mouse.
void TestAtSpi::blockedWindowIgnoresPresses()
{
    const AtSpiNode main = mainAfterARun();
    QVERIFY(
        atspi.doAction(find(main, QStringLiteral("push button"), QStringLiteral("Submit Results")),
                       QStringLiteral("Press")));
    AtSpiNode submit;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(submit = window(QStringLiteral("dialog"), QStringLiteral("CPU Orvane Submit Results")))
             .isNull(),
        10000);
    QTRY_VERIFY_WITH_TIMEOUT(
        !find(submit, QStringLiteral("push button"), QStringLiteral("Close")).isNull(), 10000);

    QVERIFY(atspi.doAction(find(main, QStringLiteral("push button"), QStringLiteral("About")),
                           QStringLiteral("Press")));
    // A press is carried out after its request returns; one pressed later on the submission
    // window comes after it. Its thank-you box shows that it has come.
    QVERIFY(atspi.doAction(find(submit, QStringLiteral("push button"), QStringLiteral("Close")),
                           QStringLiteral("Press")));
    AtSpiNode thanks;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const AtSpiNode &node : atspi.children(app)) {
                if (atspi.role(node) == QLatin1String("alert message"))
                    thanks = node;
            }
            return !thanks.isNull();
        }(),
        10000);
    QStringList windows;
    for (const AtSpiNode &node : atspi.children(app))
        windows << atspi.name(node);
    QVERIFY2(!windows.contains(QStringLiteral("About")) &&
                 window(QStringLiteral("dialog"), QStringLiteral("About CPU Orvane")).isNull(),
             qPrintable(windows.join(u'|')));
    QVERIFY(atspi.doAction(find(thanks, QStringLiteral("push button"), QStringLiteral("OK")),
                           QStringLiteral("Press")));
    QTRY_VERIFY_WITH_TIMEOUT(!atspi.has(submit, AtSpiState::Showing), 10000);
}

// While a kernel runs (one held until the test lets it go), the program still answers a screen
// reader: the status line says which test runs.
void TestAtSpi::answersDuringAKernel()
{
    QTemporaryDir slowFolder;
    QVERIFY(slowFolder.isValid());
    const QString binary = slowFolder.filePath(QStringLiteral("orvane"));
    QVERIFY(QFile::copy(QStringLiteral(ORVANE), binary));
    QVERIFY(QFile::copy(QStringLiteral(SLOW_KERNELS),
                        slowFolder.filePath(QStringLiteral("libkalvex.so.1"))));
    const QString started = slowFolder.filePath(QStringLiteral("started"));
    const QString release = slowFolder.filePath(QStringLiteral("release"));
    QProcess slow;
    QProcessEnvironment environment = program.processEnvironment();
    environment.insert(QStringLiteral("HOME"), slowFolder.path());
    environment.insert(QStringLiteral("ORVANE_TEST_STARTED"), started);
    environment.insert(QStringLiteral("ORVANE_TEST_RELEASE"), release);
    slow.setProcessEnvironment(environment);
    slow.setProcessChannelMode(QProcess::ForwardedChannels);
    slow.start(binary, {});
    QVERIFY(slow.waitForStarted());
    AtSpiNode slowApp;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            for (const AtSpiNode &node : atspi.applications()) {
                if (!(node == app) && atspi.name(node) == QLatin1String("orvane") &&
                    !atspi.children(node).isEmpty())
                    slowApp = node;
            }
            return !slowApp.isNull();
        }(),
        20000);
    AtSpiNode main;
    for (const AtSpiNode &node : atspi.children(slowApp)) {
        if (atspi.role(node) == QLatin1String("frame"))
            main = node;
    }
    QVERIFY(!main.isNull());
    const AtSpiNode status = find(main, QStringLiteral("status bar"));
    const auto pressBenchmark = [&] {
        return atspi.doAction(
            find(main, QStringLiteral("push button"), QStringLiteral("Benchmark")),
            QStringLiteral("Press"));
    };
    // The library holds its second pi call: that of the second run.
    QVERIFY(pressBenchmark());
    QTRY_VERIFY_WITH_TIMEOUT(atspi.name(status).startsWith(QStringLiteral("Benchmark Complete")),
                             20000);
    QVERIFY(pressBenchmark());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(started), 20000);
    QCOMPARE(atspi.name(status), QStringLiteral("Running: Pi Calc test - cycle 1"));
    QCOMPARE(atspi.role(main), QStringLiteral("frame"));

    QFile(release).open(QIODevice::WriteOnly);
    QTRY_VERIFY_WITH_TIMEOUT(atspi.name(status).startsWith(QStringLiteral("Benchmark Complete")),
                             20000);
    slow.kill();
    slow.waitForFinished();
}

QTEST_GUILESS_MAIN(TestAtSpi)
#include "tst_atspi.moc"

#include "core/referencemachines.h"
#include "fakes.h"
#include "helpers.h"
#include "shell/appwindows.h"
#include "shell/mainwindow.h"
#include "shell/program.h"
#include "sysinfo/linuxhost.h"

#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <memory>

#include <signal.h>
#include <sys/resource.h>

namespace {
struct Entry
{
    const char *label;
    const char *time;
    const char *bar;
    const char *text;
    const char *timeText;
    int barTwips;
};
const Entry Entries[9] = {
    {"lblCOMP1", "lblCOMPs1", "shapeCOMP1", "AMD Athlon 1.4@1.75GHz, 512MB DDR,Win2k", "12.7s",
     381},
    {"lblCOMP3", "lblCOMPs3", "ShapeCOMP3", "AMD Athlon 1.33GHz, 256MB DDR,WinME", "17.1s", 513},
    {"lblCOMP2", "lblCOMPs2", "ShapeCOMP2", "AMD Duron 700@935MHz, 256MB,Win2k", "23.9s", 717},
    {"lblcompb", "lblcomp1b", "shapecompb", "Intel PIII(slot) 1GHz@1120MHz, 384MB,Win2k", "30.3s",
     909},
    {"lblCOMP4", "lblCOMPs4", "ShapeCOMP4", "AMD Duron 700MHz, 256MB,Win2k", "33.5s", 1005},
    {"lblCOMPa", "lblcomp1a", "Shapecompa", "Intel PIII 600MHz(laptop) , 128MB, Win98", "57.6s",
     1728},
    {"lblCOMP5", "lblCOMPs5", "shapeCOMP5", "Intel PII        400mhz,  128MB, Win2k", "81.6s",
     2448},
    {"lblCOMP6", "lblCOMPs6", "ShapeCOMP6", "Intel Celeron 266mhz,  64MB, Win2k", "120.1s", 3603},
    {"lblcomp7", "lblcomps7", "ShapeCOMP7", "AMD K62  500MHz, 192MB,Win2k", "140.6s", 4218},
};
} // namespace

class TestChart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void referenceTexts();
    void nextComparisonCycles();
    void runNeverTouchesTheReferenceRow();
    void averageGivesTheOwnBar();
    void ownBarBeyondTheFrameIsClipped();
    void saveThenLoad();
    void saveBeforeAnyRunThenLoad();
    void saveWithoutATitle();
    void saveThatFailsSaysSoAndKeepsTheFile();
    void emptyPath();
    void titleWithAComma();
    void badFiles_data();
    void badFiles();
    void saveThatCannotCreate();

private:
    template<typename T> T *child(const char *name)
    {
        return control<T>(windows->mainWindow(), name);
    }
    QVector<int> shownEntries()
    {
        QVector<int> shown;
        for (int i = 0; i < 9; ++i) {
            const bool label = !child<QWidget>(Entries[i].label)->isHidden();
            const bool time = !child<QWidget>(Entries[i].time)->isHidden();
            const bool bar = !child<QWidget>(Entries[i].bar)->isHidden();
            if (label != time || label != bar)
                qFatal("entry %d shown in part", i + 1);
            if (label)
                shown << i + 1;
        }
        return shown;
    }
    void next() { child<QPushButton>("Command2")->click(); }
    void runWithOverall(double seconds)
    {
        kernels->seconds = [seconds](Kernel k, int) {
            return k == Kernel::Addition ? seconds : 0.0;
        };
        child<QPushButton>("Command1")->click();
    }
    void writeFile(const QByteArray &bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    // The Load / Save frame is hidden and disabled in the program; the tests press its buttons.
    void press(const char *button)
    {
        child<QGroupBox>("frFiles")->setEnabled(true);
        child<QPushButton>(button)->click();
    }

    LinuxHost host;
    QTemporaryDir dir;
    QString path;
    std::unique_ptr<FakeKernels> kernels;
    std::unique_ptr<AppWindows> windows;
};

void TestChart::initTestCase()
{
    failOnUnexpectedBoxes();
    Program::prepare(*qApp);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    path = dir.filePath(QStringLiteral("mycomp.dat"));
}

void TestChart::init()
{
    QFile::remove(path);
    kernels = std::make_unique<FakeKernels>();
    windows = std::make_unique<AppWindows>(*kernels, host.probe);
    windows->start();
    child<QLineEdit>("txtio")->setText(path);
}

void TestChart::cleanup()
{
    windows.reset();
}

void TestChart::referenceTexts()
{
    for (const Entry &e : Entries) {
        // The table the web board shows holds the same machines, in the same order.
        const ReferenceMachine &machine = ReferenceMachines[&e - Entries];
        QCOMPARE(QString::fromLatin1(machine.name), QLatin1String(e.text));
        QCOMPARE(QString::number(machine.seconds) + QLatin1Char('s'), QLatin1String(e.timeText));
        QCOMPARE(child<QLabel>(e.label)->text(), QLatin1String(e.text));
        QCOMPARE(child<QLabel>(e.time)->text(), QLatin1String(e.timeText));
        QCOMPARE(child<QWidget>(e.bar)->width(), qRound(e.barTwips / 15.0));
    }
    QVERIFY(shownEntries().isEmpty());
}

void TestChart::nextComparisonCycles()
{
    QCOMPARE(windows->chart().comparisonStep, short(0));
    for (int click = 1; click <= 11; ++click) {
        next();
        const int expected = (click - 1) % 9 + 1;
        QCOMPARE(shownEntries(), QVector<int>{expected});
        QCOMPARE(windows->chart().comparisonStep, short(expected == 9 ? 0 : expected));
    }
    // Paging never touches the own or the loaded row.
    QVERIFY(child<QWidget>("Shape1")->isHidden());
    QVERIFY(!child<QWidget>("lblNA")->isHidden());
    QVERIFY(child<QWidget>("Shape2")->isHidden());
}

void TestChart::runNeverTouchesTheReferenceRow()
{
    next();
    next();
    runWithOverall(2.0);
    QCOMPARE(shownEntries(), QVector<int>{2});
    QCOMPARE(windows->chart().comparisonStep, short(2));
}

void TestChart::averageGivesTheOwnBar()
{
    QVERIFY(child<QWidget>("Shape1")->isHidden());
    runWithOverall(41.2);
    QCOMPARE(windows->run().barWidthText(), QStringLiteral("1236"));
    QCOMPARE(child<QWidget>("Shape1")->width(), qRound(1236 / 15.0));
    QVERIFY(!child<QWidget>("Shape1")->isHidden());
    QVERIFY(child<QWidget>("lblNA")->isHidden());
}

void TestChart::ownBarBeyondTheFrameIsClipped()
{
    runWithOverall(300.0);
    QWidget *bar = child<QWidget>("Shape1");
    QWidget *frame = child<QWidget>("frResults");
    QCOMPARE(bar->width(), 300 * 30 / 15);
    QVERIFY(bar->geometry().right() > frame->width());
    // What is drawn of it ends at the frame's edge.
    QVERIFY(bar->visibleRegion().boundingRect().right() < frame->width() - bar->x());
}

void TestChart::saveThenLoad()
{
    runWithOverall(41.2);
    press("Command4");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("My Computer \r\n1236\r\n"));

    press("Command3");
    QCOMPARE(child<QLabel>("lblcustom")->text(), QStringLiteral("My Computer "));
    QVERIFY(!child<QWidget>("Shape2")->isHidden());
    QCOMPARE(child<QWidget>("Shape2")->width(), qRound(1236 / 15.0));
    QCOMPARE(child<QLabel>("lblload")->text(), QStringLiteral("61.8"));
    QCOMPARE(child<QLabel>("lblload")->x(), qRound(3686 / 15.0));
    // A load keeps what a later save writes.
    QCOMPARE(windows->run().barWidthText(), QStringLiteral("1236"));
}

void TestChart::saveBeforeAnyRunThenLoad()
{
    press("Command4");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("My Computer \r\n\r\n"));
    press("Command3");
    QVERIFY(child<QWidget>("Shape2")->isHidden());
    QVERIFY(child<QLabel>("lblcustom")->text().isEmpty());
    QVERIFY(child<QLabel>("lblload")->text().isEmpty());
}

void TestChart::saveWithoutATitle()
{
    child<QLineEdit>("txtname")->clear();
    press("Command4");
    QCOMPARE(child<QLineEdit>("txtname")->text(), QStringLiteral("Default"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine(), QByteArray("Default\r\n"));
}

// A write that fails (here past a file-size limit, as on a full disk) is reported in the
// program's message box, and the file saved before is still whole.
void TestChart::saveThatFailsSaysSoAndKeepsTheFile()
{
    runWithOverall(41.2);
    press("Command4");
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray before = saved.readAll();
    saved.close();

    runWithOverall(3.5);
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    limit.rlim_cur = 4;
    const auto signal = ::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    MessageBoxAnswerer answer;
    press("Command4");
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    ::signal(SIGXFSZ, signal);

    QCOMPARE(answer.seen.count, 1);
    QVERIFY2(answer.seen.text.startsWith(QStringLiteral("The result could not be saved to ") +
                                         path + QStringLiteral(":\n")),
             qPrintable(answer.seen.text));
    QCOMPARE(answer.seen.title, QStringLiteral("CPU - Orvane"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), before);
}

void TestChart::emptyPath()
{
    child<QLineEdit>("txtio")->clear();
    child<QLineEdit>("txtname")->clear();
    for (const char *button : {"Command4", "Command3"}) {
        MessageBoxAnswerer answer;
        press(button);
        QCOMPARE(answer.seen.count, 1);
        QCOMPARE(answer.seen.text, QStringLiteral("file not specified"));
        QCOMPARE(answer.seen.title, QStringLiteral("CPU - Orvane"));
        QCOMPARE(answer.seen.icon, QMessageBox::NoIcon);
    }
    // Save had already given the title its default.
    QCOMPARE(child<QLineEdit>("txtname")->text(), QStringLiteral("Default"));
}

void TestChart::titleWithAComma()
{
    runWithOverall(41.2);
    child<QLineEdit>("txtname")->setText(QStringLiteral("Fast, cheap"));
    press("Command4");
    press("Command3");
    // The rest of the title is read as the width, which is no number: the chart stays as it was.
    QCOMPARE(windows->results().loadedTitle(), QStringLiteral("Fast"));
    QCOMPARE(windows->results().loadedWidth(), QStringLiteral(" cheap"));
    QVERIFY(child<QWidget>("Shape2")->isHidden());

    child<QLineEdit>("txtname")->setText(QStringLiteral("Box,77"));
    press("Command4");
    press("Command3");
    QCOMPARE(child<QLabel>("lblcustom")->text(), QStringLiteral("Box"));
    QCOMPARE(child<QLabel>("lblload")->text(), QStringLiteral("3.85"));
}

void TestChart::badFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("one line") << QByteArray("Only\r\n");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("negative width") << QByteArray("Neg\r\n-30\r\n");
    QTest::newRow("width not a number") << QByteArray("Word\r\nwide\r\n");
    QTest::newRow("binary") << QByteArray("\x00\xff\x01,\x02\x03", 6);
}

// A file the chart cannot use changes nothing, and a Save and a Load afterwards still work.
void TestChart::badFiles()
{
    QFETCH(QByteArray, bytes);
    writeFile(bytes);
    press("Command3");
    QVERIFY(child<QWidget>("Shape2")->isHidden());
    QVERIFY(child<QLabel>("lblload")->text().isEmpty());

    runWithOverall(2.0);
    press("Command4");
    press("Command3");
    QVERIFY(!child<QWidget>("Shape2")->isHidden());
    QCOMPARE(child<QLabel>("lblload")->text(), QStringLiteral("3"));
}

void TestChart::saveThatCannotCreate()
{
    child<QLineEdit>("txtio")->setText(dir.filePath(QStringLiteral("no/such/folder/mycomp.dat")));
    MessageBoxAnswerer answer;
    press("Command4");
    QCOMPARE(answer.seen.count, 1);
    QCOMPARE(answer.seen.title, QStringLiteral("CPU - Orvane"));
    QVERIFY(answer.seen.text.contains(QStringLiteral("no/such/folder/mycomp.dat")));
    // The program goes on: the next save to a good place works.
    child<QLineEdit>("txtio")->setText(path);
    press("Command4");
    QVERIFY(QFile::exists(path));
}

QTEST_MAIN(TestChart)
#include "tst_chart.moc"

#include "results/resultsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>

class TestResultsFile : public QObject
{
    Q_OBJECT

private slots:
    void parseFields_data();
    void parseFields();
    void saveWritesTwoCrLfLines_data();
    void saveWritesTwoCrLfLines();
    void saveThatCannotCreate_data();
    void saveThatCannotCreate();
    void saveThatCannotWriteKeepsTheOldFile_data();
    void saveThatCannotWriteKeepsTheOldFile();
    void nonRegularPathsAreRefused_data();
    void nonRegularPathsAreRefused();
    void missingFile();
    void hugeFileReadsOnlyItsFirstLines();
    void longLineFailsTheLoad_data();
    void longLineFailsTheLoad();
};

void TestResultsFile::parseFields_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("width");

    QTest::newRow("as saved") << QByteArray("My Computer \r\n1236\r\n") << 2
                              << QStringLiteral("My Computer ") << QStringLiteral("1236");
    QTest::newRow("line feeds only")
        << QByteArray("Box\n99.999\n") << 2 << QStringLiteral("Box") << QStringLiteral("99.999");
    QTest::newRow("no final line end")
        << QByteArray("Box\r\n12") << 2 << QStringLiteral("Box") << QStringLiteral("12");
    QTest::newRow("comma in the title") << QByteArray("Fast, cheap\r\n1236\r\n") << 2
                                        << QStringLiteral("Fast") << QStringLiteral(" cheap");
    QTest::newRow("quoted title keeps its comma")
        << QByteArray("\"Fast, cheap\"\r\n1236\r\n") << 2 << QStringLiteral("Fast, cheap")
        << QStringLiteral("1236");
    QTest::newRow("unclosed quote runs to the end")
        << QByteArray("\"Open\r\n1236\r\n") << 1 << QStringLiteral("Open\r\n1236\r\n") << QString();
    QTest::newRow("comma decimal separator cut")
        << QByteArray("Box\r\n1236,5\r\n") << 2 << QStringLiteral("Box") << QStringLiteral("1236");
    QTest::newRow("saved before any run")
        << QByteArray("Box\r\n\r\n") << 2 << QStringLiteral("Box") << QString();
    QTest::newRow("one line") << QByteArray("Box\r\n") << 1 << QStringLiteral("Box") << QString();
    QTest::newRow("empty") << QByteArray() << 0 << QString() << QString();
    QTest::newRow("binary") << QByteArray("\x00\x01\xfe\xff,\x7f\x00", 7) << 2
                            << QString::fromLocal8Bit(QByteArray("\x00\x01\xfe\xff", 4))
                            << QString::fromLocal8Bit(QByteArray("\x7f\x00", 2));
}

void TestResultsFile::parseFields()
{
    QFETCH(QByteArray, text);
    QFETCH(int, count);
    QFETCH(QString, title);
    QFETCH(QString, width);
    const ResultsFile::Fields f = ResultsFile::parseFields(text);
    QCOMPARE(f.count, count);
    QCOMPARE(f.title, title);
    QCOMPARE(f.width, width);
}

void TestResultsFile::saveWritesTwoCrLfLines_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("after a run") << QStringLiteral("My Computer ") << QStringLiteral("1236")
                                 << QByteArray("My Computer \r\n1236\r\n");
    QTest::newRow("before any run")
        << QStringLiteral("Default") << QString() << QByteArray("Default\r\n\r\n");
}

void TestResultsFile::saveWritesTwoCrLfLines()
{
    QFETCH(QString, title);
    QFETCH(QString, width);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("mycomp.dat"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(1000, 'x'));
    old.close();

    QVERIFY(ResultsFile::save(path, title, width).ok);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), bytes);
    const ResultsFile::Fields back = ResultsFile::load(path);
    QCOMPARE(back.count, 2);
    QCOMPARE(back.title, title);
    QCOMPARE(back.width, width);
}

void TestResultsFile::saveThatCannotCreate_data()
{
    QTest::addColumn<QString>("relative");
    QTest::newRow("folder that does not exist") << QStringLiteral("missing/mycomp.dat");
    QTest::newRow("folder that is a file") << QStringLiteral("file/mycomp.dat");
}

void TestResultsFile::saveThatCannotCreate()
{
    QFETCH(QString, relative);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const auto saved =
        ResultsFile::save(dir.filePath(relative), QStringLiteral("t"), QStringLiteral("1"));
    QVERIFY(!saved.ok);
    QVERIFY(!saved.error.isEmpty());
}

void TestResultsFile::saveThatCannotWriteKeepsTheOldFile_data()
{
    QTest::addColumn<bool>("fullDisk");
    // A file-size limit makes every write past it fail (EFBIG), for any user; a full
    // filesystem (ENOSPC) needs a small tmpfs of the test's own, so only where it may mount.
    QTest::newRow("write past the file-size limit") << false;
    QTest::newRow("full filesystem") << true;
}

// A save whose write fails says so and leaves the file that was there as it was: the new text
// is written to a file beside it, which replaces the old one only once it is whole on disk.
void TestResultsFile::saveThatCannotWriteKeepsTheOldFile()
{
    QFETCH(bool, fullDisk);
    QTemporaryDir dir;
    QString folder = dir.path();
    bool mounted = false;
    const auto unmount = qScopeGuard([&] {
        if (mounted)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    });
    if (fullDisk) {
        folder = dir.filePath(QStringLiteral("small"));
        QVERIFY(QDir().mkpath(folder));
        if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no tmpfs can be mounted here");
        mounted = true;
    }
    const QString path = folder + QStringLiteral("/mycomp.dat");
    const QByteArray old = "Old Machine\r\n99.999\r\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(old), old.size());
    }
    // The new text is far larger than what room there is left.
    const QString title(4096, QLatin1Char('x'));

    std::optional<ResultsFile::SaveResult> saved;
    if (fullDisk) {
        QFile filler(folder + QStringLiteral("/filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        saved = ResultsFile::save(path, title, QStringLiteral("30"));
    } else {
        rlimit limit{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit before = limit;
        limit.rlim_cur = 1024;
        const auto signal = ::signal(SIGXFSZ, SIG_IGN);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        saved = ResultsFile::save(path, title, QStringLiteral("30"));
        ::setrlimit(RLIMIT_FSIZE, &before);
        ::signal(SIGXFSZ, signal);
    }

    QVERIFY(!saved->ok);
    QVERIFY(!saved->error.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), old);
    // Nothing is left beside it.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("mycomp")),
             QStringList{QStringLiteral("mycomp.dat")});
}

// Anything at the path but a regular file is refused at once by Load and by Save: a pipe without
// a writer would block the window for good, one with a writer would be read, a device would
// swallow or refuse the write, and none may be replaced by a new file. Every such node is made
// in the test's own folder, so a Save that wrongly replaced one harms nothing.
void TestResultsFile::nonRegularPathsAreRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("pipe") << QStringLiteral("pipe");
    QTest::newRow("pipe with a result waiting in it") << QStringLiteral("pipe with data");
    QTest::newRow("device that takes every write") << QStringLiteral("null");
    QTest::newRow("device that never ends") << QStringLiteral("zero");
    QTest::newRow("folder") << QStringLiteral("folder");
}

void TestResultsFile::nonRegularPathsAreRefused()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("node"));
    const QByteArray native = QFile::encodeName(path);
    int holder = -1; // keeps a pipe open for writing, with a whole result in it
    if (kind.startsWith(QLatin1String("pipe"))) {
        QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        if (kind == QLatin1String("pipe with data")) {
            holder = ::open(native.constData(), O_RDWR | O_NONBLOCK);
            QVERIFY(holder >= 0);
            QCOMPARE(::write(holder, "Box\r\n77\r\n", 9), ssize_t(9));
        }
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("node")));
    } else {
        const dev_t device = kind == QLatin1String("null") ? makedev(1, 3) : makedev(1, 5);
        if (::mknod(native.constData(), S_IFCHR | 0600, device) != 0)
            QSKIP("cannot make a device node here");
    }

    // Each call must return by itself; should one block on the pipe, its other end is
    // opened (and the holder closed) so that it can, and the test fails.
    const auto bounded = [&](auto call) {
        auto result = std::async(std::launch::async, call);
        if (result.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) {
            if (holder >= 0)
                ::close(holder);
            holder = -1;
            const int writer = ::open(native.constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
            const int reader = ::open(native.constData(), O_RDONLY | O_NONBLOCK);
            result.wait();
            if (reader >= 0)
                ::close(reader);
            return std::optional<decltype(result.get())>();
        }
        return std::optional(result.get());
    };

    const auto loaded = bounded([&path] { return ResultsFile::load(path); });
    QVERIFY2(loaded, "Load blocked");
    QCOMPARE(loaded->count, 0);

    const auto saved = bounded(
        [&path] { return ResultsFile::save(path, QStringLiteral("t"), QStringLiteral("1")); });
    if (holder >= 0)
        ::close(holder);
    QVERIFY2(saved, "Save blocked");
    QVERIFY(!saved->ok);
    QVERIFY(!saved->error.isEmpty());
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(!QFileInfo(path).isFile());
}

void TestResultsFile::missingFile()
{
    QTemporaryDir dir;
    const ResultsFile::Fields f = ResultsFile::load(dir.filePath(QStringLiteral("none.dat")));
    QCOMPARE(f.count, 0);
    // A folder is no file either.
    QCOMPARE(ResultsFile::load(dir.path()).count, 0);
}

void TestResultsFile::hugeFileReadsOnlyItsFirstLines()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.dat"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("Huge\r\n77\r\n");
    const QByteArray chunk(1 << 20, 'z');
    for (int i = 0; i < 64; ++i)
        file.write(chunk);
    file.close();
    const ResultsFile::Fields f = ResultsFile::load(path);
    QCOMPARE(f.count, 2);
    QCOMPARE(f.title, QStringLiteral("Huge"));
    QCOMPARE(f.width, QStringLiteral("77"));
}

void TestResultsFile::longLineFailsTheLoad_data()
{
    const qsizetype limit = ResultsFile::LineLimit;
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("width");

    // A width whose digits would straddle the cap must not come back cut short.
    QTest::newRow("width beyond the cap on the title line")
        << QByteArray(limit - 3, 'T') + ",1236\r\n"
        << 0 << QString();
    QTest::newRow("title line longer than the cap") << QByteArray(limit, 'T') + "\r\n1236\r\n"
                                                    << 0 << QString();
    QTest::newRow("width line longer than the cap") << "Box\r\n" + QByteArray(limit, '7') + "\r\n"
                                                    << 0 << QString();
    QTest::newRow("endless line") << QByteArray(8 * limit, 'z') << 0 << QString();
    QTest::newRow("title line just within the cap") << QByteArray(limit - 2, 'T') + "\r\n1236\r\n"
                                                    << 2 << QStringLiteral("1236");
    QTest::newRow("last line without an end, within the cap")
        << "Box\r\n" + QByteArray(limit - 1, '7') << 2 << QString(limit - 1, QLatin1Char('7'));
}

void TestResultsFile::longLineFailsTheLoad()
{
    QFETCH(QByteArray, text);
    QFETCH(int, count);
    QFETCH(QString, width);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("long.dat"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(text), text.size());
    file.close();
    const ResultsFile::Fields f = ResultsFile::load(path);
    QCOMPARE(f.count, count);
    QCOMPARE(f.width, width);
}

QTEST_GUILESS_MAIN(TestResultsFile)
#include "tst_resultsfile.moc"

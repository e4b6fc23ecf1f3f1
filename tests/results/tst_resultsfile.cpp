#include "resultsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

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
    void deviceIsWrittenInPlace();
    void missingFile();
    void hugeFileReadsOnlyItsStart();
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
    QTest::newRow("path is a folder") << QStringLiteral("folder");
}

void TestResultsFile::saveThatCannotCreate()
{
    QFETCH(QString, relative);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    const auto saved =
        ResultsFile::save(dir.filePath(relative), QStringLiteral("t"), QStringLiteral("1"));
    QVERIFY(!saved.ok);
    QVERIFY(!saved.error.isEmpty());
}

// A device is written in place, never replaced by a new file, and a refused write is a failure.
void TestResultsFile::deviceIsWrittenInPlace()
{
    const QString full = QStringLiteral("/dev/full"); // accepts the open, refuses every write
    if (!QFileInfo(full).exists() || QFileInfo(full).isFile())
        QSKIP("no /dev/full device here");
    QVERIFY(!ResultsFile::save(full, QStringLiteral("t"), QStringLiteral("1")).ok);
    QVERIFY(QFileInfo(full).exists());
    QVERIFY(!QFileInfo(full).isFile());
}

void TestResultsFile::missingFile()
{
    QTemporaryDir dir;
    const ResultsFile::Fields f = ResultsFile::load(dir.filePath(QStringLiteral("none.dat")));
    QCOMPARE(f.count, 0);
    // A folder is no file either.
    QCOMPARE(ResultsFile::load(dir.path()).count, 0);
}

void TestResultsFile::hugeFileReadsOnlyItsStart()
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
    QCOMPARE(f.width, QStringLiteral("77"));

    // One endless line: the title is cut at what was read, and there is no second field.
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (int i = 0; i < 8; ++i)
        file.write(chunk);
    file.close();
    const ResultsFile::Fields endless = ResultsFile::load(path);
    QCOMPARE(endless.count, 1);
    QCOMPARE(endless.title.size(), qsizetype(ResultsFile::ReadLimit));
}

QTEST_GUILESS_MAIN(TestResultsFile)
#include "tst_resultsfile.moc"

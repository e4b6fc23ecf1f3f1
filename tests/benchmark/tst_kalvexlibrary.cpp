#include "benchmark/benchmarkrun.h"
#include "benchmark/kernelset.h"
#include "core/numbertext.h"
#include "fakes.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestKalvexLibrary : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void wholeCycleWithTheRealLibrary();
    void missingLibraryIsReported();
    void libraryWithoutTheEntryPoints();
    void brokenLibraryIsTheOneNamed_data();
    void brokenLibraryIsTheOneNamed();
};

// One cycle of the real run over the real libkalvex.so found beside the program.
void TestKalvexLibrary::wholeCycleWithTheRealLibrary()
{
    FakeView view;
    view.fields[Field::PrimeResult] = QStringLiteral("943253249333191");
    KalvexLibrary library;
    BenchmarkRun run(view, library);
    run.click();

    QVERIFY(library.isLoaded());
    QVERIFY(view.libraryFailures.isEmpty());
    QCOMPARE(view.fields[Field::PrimeResult], QStringLiteral("30712429"));
    QCOMPARE(view.fields[Field::PiResult], QStringLiteral("3.14159264498239"));
    QCOMPARE(view.fields[Field::PowerResult], QStringLiteral("1.04602786369639"));

    double simple = 0;
    for (const Field f : {Field::AdditionSeconds, Field::SubtractionSeconds,
                          Field::MultiplicationSeconds, Field::DivisionSeconds}) {
        const auto seconds = readNumber(view.fields[f]);
        QVERIFY2(seconds && *seconds >= 0.0, qPrintable(view.fields[f]));
        simple += *seconds;
    }
    QCOMPARE(readCurrency(view.fields[Field::SimpleTotal]),
             std::optional(Currency::fromDouble(simple)));
    const double complex = *readNumber(view.fields[Field::PrimeSeconds]) +
                           *readNumber(view.fields[Field::PiSeconds]) +
                           *readNumber(view.fields[Field::PowerSeconds]);
    QCOMPARE(*readNumber(view.fields[Field::ComplexTotal]), complex);
    const auto overall = readNumber(view.fields[Field::OverallTotal]);
    QVERIFY(overall && *overall > 0.0);
    QCOMPARE(Currency::fromDouble(*overall), Currency::fromDouble(simple + complex));
    QVERIFY(view.log.contains(QStringLiteral("Average score: ") + view.fields[Field::OverallTotal] +
                              QStringLiteral(" seconds.")));
    QVERIFY(view.submitEnabled);
}

void TestKalvexLibrary::missingLibraryIsReported()
{
    QTemporaryDir empty;
    KalvexLibrary library({empty.path()}, KalvexLibrary::SystemPath::Skip);
    double result = 0, seconds = 0;
    QString error;
    QVERIFY(!library.run(Kernel::Prime, &result, &seconds, &error));
    QVERIFY2(error.contains(QStringLiteral("kalvex")), qPrintable(error));
    QVERIFY(!library.isLoaded());
}

// A library of that name without the kernels' entry points is refused as a whole.
void TestKalvexLibrary::libraryWithoutTheEntryPoints()
{
    QTemporaryDir folder;
    QVERIFY(QFile::copy(QStringLiteral(WITHOUT_KERNELS),
                        folder.filePath(QStringLiteral("libkalvex.so.1"))));
    KalvexLibrary library({folder.path()}, KalvexLibrary::SystemPath::Skip);
    double result = 0, seconds = 0;
    QString error;
    QVERIFY(!library.run(Kernel::Addition, &result, &seconds, &error));
    QVERIFY2(error.contains(QStringLiteral("addition")), qPrintable(error));
    QVERIFY(!library.isLoaded());
}

void TestKalvexLibrary::brokenLibraryIsTheOneNamed_data()
{
    QTest::addColumn<bool>("brokenFirst");
    QTest::newRow("broken library in the first folder") << true;
    QTest::newRow("broken library in the last folder") << false;
}

// A library that is there but will not load is what the message names, wherever it stands among
// the places where there was none.
void TestKalvexLibrary::brokenLibraryIsTheOneNamed()
{
    QFETCH(bool, brokenFirst);
    QTemporaryDir broken;
    QTemporaryDir empty;
    QFile file(broken.filePath(QStringLiteral("libkalvex.so.1")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a shared library\n");
    file.close();
    const QStringList folders = brokenFirst ? QStringList{broken.path(), empty.path()}
                                            : QStringList{empty.path(), broken.path()};
    KalvexLibrary library(folders, KalvexLibrary::SystemPath::Skip);
    double result = 0, seconds = 0;
    QString error;
    QVERIFY(!library.run(Kernel::Addition, &result, &seconds, &error));
    QVERIFY2(error.contains(broken.path()), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestKalvexLibrary)
#include "tst_kalvexlibrary.moc"

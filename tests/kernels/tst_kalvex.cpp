#include "kalvex.h"

#include <QTest>

#include <cmath>

using KernelFunction = void (*)(double *, double *);
Q_DECLARE_METATYPE(KernelFunction)

class TestKalvex : public QObject
{
    Q_OBJECT

private slots:
    void results_data();
    void results();
};

void TestKalvex::results_data()
{
    QTest::addColumn<KernelFunction>("kernel");
    QTest::addColumn<double>("expected");

    QTest::newRow("addition") << &addition << 750000000.0;
    QTest::newRow("subtraction") << &subtraction << 150000000.0;
    QTest::newRow("multiplication") << &multiplication << 500000001.0 * 250000001.0;
    QTest::newRow("division") << &division << 500000001.0 / 250000001.0;
    QTest::newRow("prime stops above the square root") << &prime << 30712429.0;
    QTest::newRow("pi") << &pi << 3.1415926449823899;
    QTest::newRow("power") << &power << 1.0460278636963902;
}

// Every call returns the same exact value, writes a whole number of milliseconds, and pays no
// attention to what the caller's variables held before.
void TestKalvex::results()
{
    QFETCH(KernelFunction, kernel);
    QFETCH(double, expected);

    const double earlier[][2] = {{0.0, 0.0}, {-12345.5, 1e300}};
    for (const auto &start : earlier) {
        double result = start[0];
        double seconds = start[1];
        kernel(&result, &seconds);
        QCOMPARE(result, expected);
        QVERIFY2(seconds >= 0.0, qPrintable(QString::number(seconds)));
        const double millis = std::round(seconds * 1000.0);
        QCOMPARE(seconds, millis * 0.001);
        QVERIFY(seconds < 120.0);
    }
}

QTEST_GUILESS_MAIN(TestKalvex)
#include "tst_kalvex.moc"

// The checked kernels: the real library gives the exact result and check of each, and a build
// with a fault hook (the last bit of one intermediate result flipped at iteration k) is caught
// by the check for every kernel, early, midway and at the last iteration.
#include "benchmark/kernelset.h"
#include "kalvex.h"

#include <QTest>

#include <dlfcn.h>

using CheckedKernel = void (*)(double *, double *, uint64_t *);
Q_DECLARE_METATYPE(Kernel)

namespace {

CheckedKernel realKernel(Kernel kernel)
{
    static constexpr CheckedKernel kernels[KernelCount] = {
        &addition_checked, &subtraction_checked, &multiplication_checked, &division_checked,
        &prime_checked,    &pi_checked,          &power_checked};
    return kernels[static_cast<int>(kernel)];
}

QString hex(quint64 value)
{
    return QStringLiteral("0x%1").arg(value, 16, 16, QLatin1Char('0'));
}

} // namespace

class TestKalvexChecked : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void realChecks_data();
    void realChecks();
    void everyFaultIsCaught_data();
    void everyFaultIsCaught();

private:
    void *m_faulty = nullptr;
};

void TestKalvexChecked::initTestCase()
{
    m_faulty = dlopen(FAULTY_KERNELS, RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(m_faulty, dlerror());
}

void TestKalvexChecked::cleanupTestCase()
{
    if (m_faulty)
        dlclose(m_faulty);
}

void TestKalvexChecked::realChecks_data()
{
    QTest::addColumn<Kernel>("kernel");
    for (int k = 0; k < KernelCount; ++k)
        QTest::newRow(kernelSymbol(static_cast<Kernel>(k))) << static_cast<Kernel>(k);
}

// The production library: the same result as the timed kernel, and the known check.
void TestKalvexChecked::realChecks()
{
    QFETCH(Kernel, kernel);
    double result = -1.0;
    double seconds = -1.0;
    uint64_t check = 0;
    realKernel(kernel)(&result, &seconds, &check);
    QCOMPARE(result, expectedResult(kernel));
    QCOMPARE(hex(check), hex(expectedCheck(kernel)));
    QVERIFY(seconds >= 0.0 && seconds < 120.0);
}

void TestKalvexChecked::everyFaultIsCaught_data()
{
    QTest::addColumn<Kernel>("kernel");
    QTest::addColumn<double>("iteration");
    // The first, one in the middle and the last iteration of each loop.
    const double last[KernelCount] = {250000000, 250000000, 250000000, 250000000,
                                      15356213,  250000000, 449999999};
    for (int k = 0; k < KernelCount; ++k) {
        const auto kernel = static_cast<Kernel>(k);
        for (const double iteration : {1.0, std::floor(last[k] / 2.0 - 12345.0), last[k]})
            QTest::addRow("%s at %.0f", kernelSymbol(kernel), iteration) << kernel << iteration;
    }
}

void TestKalvexChecked::everyFaultIsCaught()
{
    QFETCH(Kernel, kernel);
    QFETCH(double, iteration);
    const QByteArray symbol = QByteArray(kernelSymbol(kernel)) + "_checked";
    const auto faulty = reinterpret_cast<CheckedKernel>(dlsym(m_faulty, symbol.constData()));
    QVERIFY(faulty);

    // Without a fault the hooked build checks out like the real one.
    qunsetenv("KALVEX_FAULT");
    double result = 0.0;
    double seconds = 0.0;
    uint64_t check = 0;
    if (iteration == 1.0) {
        faulty(&result, &seconds, &check);
        QCOMPARE(hex(check), hex(expectedCheck(kernel)));
    }
    qputenv("KALVEX_FAULT", QByteArray::number(static_cast<int>(kernel)) + ':' +
                                QByteArray::number(iteration, 'f', 0));
    faulty(&result, &seconds, &check);
    qunsetenv("KALVEX_FAULT");
    // For the record: would the kernel's last value alone have shown it?
    qInfo("%s, iteration %.0f: last value %s, check %s", kernelSymbol(kernel), iteration,
          result == expectedResult(kernel) ? "unchanged" : "changed",
          check == expectedCheck(kernel) ? "unchanged" : "changed");
    QVERIFY2(check != expectedCheck(kernel),
             qPrintable(QStringLiteral("the fault left the check at %1").arg(hex(check))));
}

QTEST_GUILESS_MAIN(TestKalvexChecked)
#include "tst_kalvexchecked.moc"

// The kernels on a thread of their own: the run sees the same calls, values and checks as when
// it calls them itself, and the waiting thread handles its events meanwhile.
#include "benchmark/benchmarkrun.h"
#include "benchmark/kernelthread.h"
#include "fakes.h"

#include <QSemaphore>
#include <QTest>
#include <QTimer>

class TestKernelThread : public QObject
{
    Q_OBJECT

private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void sameRunAsOnTheCallingThread_data();
    void sameRunAsOnTheCallingThread();
    void eventsRunDuringAKernel();
    void clickDuringAKernelTakesEffectAtTheNextCheck();
    void failureComesBack();
    void noThreadUntilTheFirstKernel();
    // Last: once the application is told to quit, no event loop of this thread runs again.
    void quittingApplicationStillWaitsForTheKernel();
};

void TestKernelThread::sameRunAsOnTheCallingThread_data()
{
    QTest::addColumn<QString>("count");
    QTest::newRow("one cycle") << QStringLiteral("1");
    QTest::newRow("three cycles") << QStringLiteral("3");
}

// Every view call, every check and every time of a run are the same through the thread.
void TestKernelThread::sameRunAsOnTheCallingThread()
{
    QFETCH(QString, count);
    const auto times = [](Kernel kernel, int call) {
        return 0.1 * (static_cast<int>(kernel) + 1) + 0.01 * call;
    };
    FakeView direct;
    direct.count = count;
    FakeKernels directKernels;
    directKernels.seconds = times;
    BenchmarkRun(direct, directKernels).click();

    FakeView threaded;
    threaded.count = count;
    FakeKernels threadedKernels;
    threadedKernels.seconds = times;
    QList<QThread *> threads;
    threadedKernels.onRun = [&](Kernel, int) {
        threads << QThread::currentThread();
    };
    KernelThread thread(threadedKernels);
    BenchmarkRun(threaded, thread).click();

    QCOMPARE(threadedKernels.calls, directKernels.calls);
    QCOMPARE(threaded.fields, direct.fields);
    QCOMPARE(threaded.log, direct.log);
    QCOMPARE(threaded.status, direct.status);
    QCOMPARE(threaded.eventPoints, direct.eventPoints);
    QCOMPARE(threaded.ownBarWidth, direct.ownBarWidth);
    QCOMPARE(threads.size(), 7 * count.toInt());
    for (QThread *t : std::as_const(threads))
        QVERIFY(t != QThread::currentThread());
}

// While a kernel runs, the calling thread handles its events: here a timer that lets the kernel
// end. Called on the calling thread itself, the kernel would wait for it in vain.
void TestKernelThread::eventsRunDuringAKernel()
{
    FakeView view;
    FakeKernels kernels;
    QSemaphore timerFired;
    bool released = true;
    kernels.onRun = [&](Kernel kernel, int) {
        if (kernel == Kernel::Pi)
            released = timerFired.tryAcquire(1, 20000);
    };
    QTimer timer;
    int firedDuringPi = 0;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (kernels.calls.size() == 6 && !view.fields.contains(Field::PiSeconds)) {
            ++firedDuringPi;
            timerFired.release();
        }
    });
    timer.start(1);
    KernelThread thread(kernels);
    BenchmarkRun(view, thread).click();
    QVERIFY(released);
    QVERIFY(firedDuringPi >= 1);
    QVERIFY(view.log.contains(QStringLiteral("Benchmark finished")));
}

// A click handled during a kernel (here from a timer) ends the run at the check after that
// kernel: the kernel's time is shown and nothing more runs.
void TestKernelThread::clickDuringAKernelTakesEffectAtTheNextCheck()
{
    FakeView view;
    FakeKernels kernels;
    QSemaphore clicked;
    kernels.onRun = [&](Kernel kernel, int) {
        if (kernel == Kernel::Multiplication)
            clicked.tryAcquire(1, 20000);
    };
    KernelThread thread(kernels);
    BenchmarkRun run(view, thread);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (kernels.calls.size() == 3 && clicked.available() == 0 &&
            view.caption == QLatin1String("Abort")) {
            run.click();
            clicked.release();
            timer.stop();
        }
    });
    timer.start(1);
    run.click();
    QCOMPARE(kernels.calls.size(), 3);
    // The abort fills the fields of the kernels that did not run with "0".
    QCOMPARE(view.fields.value(Field::MultiplicationSeconds), QStringLiteral("0.25"));
    QCOMPARE(view.fields.value(Field::DivisionSeconds), QStringLiteral("0"));
    QVERIFY(view.log.endsWith(QStringLiteral("!!!Benchmark Aborted at 12:00:00!!!\r\n")));
    QCOMPARE(view.status, QStringLiteral("\u00BB Benchmark Aborted!"));
}

void TestKernelThread::failureComesBack()
{
    FakeView view;
    FakeKernels kernels;
    kernels.failure = QStringLiteral("no such file");
    KernelThread thread(kernels);
    double result = 0;
    double seconds = 0;
    QString error;
    QVERIFY(!thread.run(Kernel::Addition, &result, &seconds, &error));
    QCOMPARE(error, QStringLiteral("no such file"));
    BenchmarkRun(view, thread).click();
    QCOMPARE(view.libraryFailures.size(), 1);
    QVERIFY(view.libraryFailures.first().contains(QStringLiteral("no such file")));
}

// The program starts without the thread: it comes with the first kernel.
void TestKernelThread::noThreadUntilTheFirstKernel()
{
    FakeKernels kernels;
    KernelThread thread(kernels);
    QVERIFY(!thread.threadRunning());
    double result = 0;
    double seconds = 0;
    QString error;
    QVERIFY(thread.run(Kernel::Addition, &result, &seconds, &error));
    QVERIFY(thread.threadRunning());
    KernelThread unused(kernels); // made and destroyed without a kernel: nothing left behind
}

// While the application quits, event loops return at once; the call still waits for its kernel
// and its answer.
void TestKernelThread::quittingApplicationStillWaitsForTheKernel()
{
    FakeKernels kernels;
    QSemaphore never;
    kernels.onRun = [&](Kernel, int) {
        never.tryAcquire(1, 200);
    }; // a kernel that takes 0.2 s
    KernelThread thread(kernels);
    QCoreApplication::exit(0);
    double result = 0;
    double seconds = 0;
    QString error;
    QVERIFY(thread.run(Kernel::Division, &result, &seconds, &error));
    QCOMPARE(seconds, 0.25);
    QCOMPARE(result, 103.0);
}

QTEST_GUILESS_MAIN(TestKernelThread)
#include "tst_kernelthread.moc"

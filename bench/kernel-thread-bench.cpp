// kernel-thread-bench: whether running the kernels on a thread of their own, as the window does,
// changes their times. For each kernel of libkalvex.so it alternates calls on the calling thread
// (the reference) with calls through the kernel thread, whose caller waits in its event loop,
// and prints each way's median time and their ratio.
// Usage: kernel-thread-bench [rounds]
#include "benchmark/kernelset.h"
#include "benchmark/kernelthread.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The calling thread's own processor time, in seconds.
double threadCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 3;
    KalvexLibrary library;
    KernelThread thread(library);
    std::printf("kernel-thread-bench: %d rounds, each kernel called alternately on the calling "
                "thread and on the kernel thread\n",
                rounds);
    std::printf("%-15s %12s %12s %8s\n", "kernel", "direct, s", "thread, s", "ratio");
    QList<double> ratios;
    double waitingCpu = 0;
    double threadedSeconds = 0;
    for (int k = 0; k < KernelCount; ++k) {
        const auto kernel = static_cast<Kernel>(k);
        QList<double> direct;
        QList<double> threaded;
        for (int round = 0; round < rounds; ++round) {
            for (KernelSet *set :
                 {static_cast<KernelSet *>(&library), static_cast<KernelSet *>(&thread)}) {
                double result = 0;
                double seconds = 0;
                QString error;
                const double cpuBefore = threadCpuSeconds();
                const bool ran = set->run(kernel, &result, &seconds, &error);
                if (set == &thread) {
                    waitingCpu += threadCpuSeconds() - cpuBefore;
                    threadedSeconds += seconds;
                }
                if (!ran) {
                    std::fprintf(stderr, "kernel-thread-bench: %s\n", qPrintable(error));
                    return 1;
                }
                (set == &library ? direct : threaded) << seconds;
            }
        }
        const double ratio = median(threaded) / median(direct);
        ratios << ratio;
        std::printf("%-15s %12.4f %12.4f %8.3f\n", kernelSymbol(kernel), median(direct),
                    median(threaded), ratio);
    }
    std::printf("median ratio, thread / direct: %.3f\n", median(ratios));
    std::printf("the waiting thread's own processor time: %.1f ms over %.1f s of kernels\n",
                waitingCpu * 1000, threadedSeconds);
    return 0;
}

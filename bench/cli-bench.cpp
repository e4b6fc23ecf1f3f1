// cli-bench: what orvane-bench's harness costs and how its threads scale. It runs orvane-bench
// with --json and prints:
//   - the harness's share of a run: the process's time from its start to its end against the
//     sum of the kernels' own seconds, for five single-thread cycles (each a run of its own, so
//     the median shows through noise);
//   - the spread of those cycles;
//   - with one thread per physical core, each thread's cycle against the single-thread cycle.
// Usage: cli-bench <orvane-bench> [cycles]
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>

#include <algorithm>
#include <cstdio>

namespace {

// The report, and the time from starting the process to its end, in seconds.
QJsonObject runBench(const QString &program, const QStringList &arguments,
                     double *processSeconds = nullptr)
{
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program,
                  arguments + QStringList{QStringLiteral("--json"), QStringLiteral("--quiet")});
    process.waitForFinished(-1);
    if (processSeconds)
        *processSeconds = clock.nsecsElapsed() / 1e9;
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Physical cores: distinct (package, core) pairs among the online processors.
int physicalCores()
{
    QSet<QString> cores;
    const QDir cpus(QStringLiteral("/sys/devices/system/cpu"));
    for (const QString &cpu : cpus.entryList({QStringLiteral("cpu[0-9]*")}, QDir::Dirs)) {
        QFile core(cpus.filePath(cpu + QStringLiteral("/topology/core_id")));
        QFile package(cpus.filePath(cpu + QStringLiteral("/topology/physical_package_id")));
        if (core.open(QIODevice::ReadOnly) && package.open(QIODevice::ReadOnly))
            cores.insert(
                QString::fromLatin1(package.readAll().trimmed() + '/' + core.readAll().trimmed()));
    }
    return std::max<int>(1, static_cast<int>(cores.size()));
}

QList<double> cycleTimes(const QJsonObject &thread)
{
    QList<double> times;
    for (const QJsonValue cycle : thread.value(u"cycles").toArray())
        times << cycle.toObject().value(u"overall").toDouble();
    return times;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: cli-bench <orvane-bench> [cycles]\n");
        return 2;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);
    const int cycles = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    QList<double> overheads;
    QList<double> single;
    for (int run = 0; run < cycles; ++run) {
        double wall = 0.0;
        const QJsonObject report =
            runBench(program, {QStringLiteral("--cycles"), QStringLiteral("1")}, &wall);
        const QJsonObject cycle = report.value(u"threads")
                                      .toArray()[0]
                                      .toObject()
                                      .value(u"cycles")
                                      .toArray()[0]
                                      .toObject();
        double kernels = 0.0;
        const QJsonObject seconds = cycle.value(u"seconds").toObject();
        for (const QJsonValue s : seconds)
            kernels += s.toDouble();
        // From the process's start to its end: loading, sampling the host and reporting included.
        overheads << (wall - kernels) / wall * 100.0;
        single << cycle.value(u"overall").toDouble();
        std::printf("single-thread cycle %d: %.3f s, kernels %.3f s, process %.3f s\n", run + 1,
                    single.back(), kernels, wall);
    }
    const auto [low, high] = std::minmax_element(single.begin(), single.end());
    std::printf("harness share of the process's time, start to end: median %.2f %% (min %.2f, "
                "max %.2f)\n",
                median(overheads), *std::min_element(overheads.begin(), overheads.end()),
                *std::max_element(overheads.begin(), overheads.end()));
    std::printf("single-thread cycle: median %.3f s, spread %.1f %% over %d cycles\n",
                median(single), (*high - *low) / median(single) * 100.0, cycles);

    const int cores = physicalCores();
    const QJsonObject threaded =
        runBench(program, {QStringLiteral("--threads"), QString::number(cores),
                           QStringLiteral("--cycles"), QString::number(std::min(cycles, 3))});
    std::printf("%d thread(s), one per physical core%s:\n", cores,
                threaded.value(u"shared_cores").toArray().isEmpty() ? "" : " (some share a core)");
    for (const QJsonValue thread : threaded.value(u"threads").toArray()) {
        const double m = median(cycleTimes(thread.toObject()));
        std::printf(
            "  thread %d on processor %d: median cycle %.3f s, %+.1f %% against one thread\n",
            thread.toObject().value(u"thread").toInt(), thread.toObject().value(u"cpu").toInt(), m,
            (m / median(single) - 1.0) * 100.0);
    }
    return 0;
}

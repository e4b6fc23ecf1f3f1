// What orvane-bench learns of the host before it starts: what would make its figures
// unrepresentative (warnings), which processors the threads go to and whether they share a
// core, and where the run came from (provenance). The readers take the file system's root so
// tests can hand them a tree of their own.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// The logical processors this program may run on, one per core first, then the second thread
// of each core: N threads on N physical cores each get a core of their own.
QList<int> processorsInOrder(const QString &root = QStringLiteral("/"));

// For the processors given, the groups that share one core ("0,1"), if any.
QStringList sharedCores(const QList<int> &cpus, const QString &root = QStringLiteral("/"));

// The conditions that make a run unrepresentative, as sentences: a frequency governor other
// than "performance", a load average above 0.3 per processor, running on battery, a
// hypervisor, another process using more than a tenth of a processor (sampled for a moment).
QStringList hostWarnings(const QString &root = QStringLiteral("/"), int sampleMs = 300);

struct Provenance
{
    QString libraryPath; // the kernel library actually loaded
    QByteArray sha256;   // of the very file that was loaded, in hex
    QString buildRecord; // what the library says of how it was built; empty when nothing
    double clockMHz = 0.0;
    bool withHostname = false;
};
QJsonObject provenanceJson(const Provenance &provenance);

// The "key=value" lines of a library's build record, as JSON: version, and built_with
// (compiler, version, flags); "unknown" for what the record does not say.
QJsonObject libraryRecordJson(const QString &buildRecord);

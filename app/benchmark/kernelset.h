// The seven kernels as the benchmark run sees them, and the loader that binds them from
// libkalvex.so at the first call.
//
// The run only ever asks for "run kernel k with these two doubles"; tests hand it a fake set with
// chosen times, the program hands it the real library.
#pragma once

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

enum class Kernel
{
    Addition,
    Subtraction,
    Multiplication,
    Division,
    Prime,
    Pi,
    Power
};
inline constexpr int KernelCount = 7;

// The plain C names the library exports, in the order a cycle runs them.
const char *kernelSymbol(Kernel kernel);

// The exact value each kernel computes: its last value, and the check value of its checked
// variant. The kernels are deterministic, so any other value is a fault of the machine.
double expectedResult(Kernel kernel);
quint64 expectedCheck(Kernel kernel);

class KernelSet
{
public:
    virtual ~KernelSet() = default;
    // Runs one kernel. Returns false, with the reason in *error, when it cannot be called.
    virtual bool run(Kernel kernel, double *result, double *seconds, QString *error) = 0;
    // Runs its checked variant: the same result and a time as run() gives them, and the check
    // value of every intermediate result. False, with the reason, when there is none.
    virtual bool runChecked(Kernel kernel, double *result, double *seconds, quint64 *check,
                            QString *error);
};

class KalvexLibrary final : public KernelSet
{
public:
    enum class SystemPath
    {
        Search,
        Skip
    };

    // Folders tried in order before the system's library path; empty means installFolders().
    explicit KalvexLibrary(QStringList folders = {}, SystemPath systemPath = SystemPath::Search);

    // Where the program looks first: its own folder, then the library folder of the layout it
    // was installed with, found from the program's folder, so any prefix and any staging folder
    // work without the loader's cache. (A bare name would be looked up from inside Qt Core, whose
    // run path is not the program's.)
    static QStringList installFolders();

    // Exactly this file, and nowhere else.
    static std::unique_ptr<KalvexLibrary> fromFile(const QString &file);

    bool run(Kernel kernel, double *result, double *seconds, QString *error) override;
    bool runChecked(Kernel kernel, double *result, double *seconds, quint64 *check,
                    QString *error) override;
    // Loads the library now rather than at the first kernel call; true when it is loaded. Once
    // loaded, run() may be called from several threads at once.
    bool load(QString *error);
    bool isLoaded() const { return m_loaded; }
    // Whether it has the checked variants of all seven kernels.
    bool hasCheckedKernels() const;
    // The file the kernels were bound from, as the dynamic loader opened it; empty until loaded.
    QString loadedPath() const;
    // An address inside the loaded library; null until loaded.
    const void *entryAddress() const { return reinterpret_cast<const void *>(m_entries[0]); }
    // What the library says of how it was built (compiler, flags, version), as "key=value"
    // lines; empty when it carries no such record.
    QString buildRecord() const;

    // Loads exactly this file through a descriptor already open on it, so that what is loaded
    // is the very file the descriptor reads, whatever the path names meanwhile.
    static std::unique_ptr<KalvexLibrary> fromDescriptor(int descriptor, const QString &path);

private:
    using Entry = void (*)(double *, double *);
    using CheckedEntry = void (*)(double *, double *, quint64 *);

    QStringList m_folders;
    QString m_file;
    QString m_shownPath; // the path the user named, for a library loaded by descriptor
    SystemPath m_systemPath;
    QLibrary m_library;
    std::array<Entry, KernelCount> m_entries{};
    std::array<CheckedEntry, KernelCount> m_checked{};
    const char *(*m_buildRecord)() = nullptr;
    bool m_loaded = false;
};

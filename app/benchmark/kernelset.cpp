#include "benchmark/kernelset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

#include <dlfcn.h>

namespace {
// The library's SONAME is libkalvex.so.1: the interface the program was built against.
constexpr int SoVersion = 1;
} // namespace

const char *kernelSymbol(Kernel kernel)
{
    static constexpr const char *names[KernelCount] = {
        "addition", "subtraction", "multiplication", "division", "prime", "pi", "power"};
    return names[static_cast<int>(kernel)];
}

double expectedResult(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Addition:
        return 750000000.0;
    case Kernel::Subtraction:
        return 150000000.0;
    case Kernel::Multiplication:
        return 500000001.0 * 250000001.0;
    case Kernel::Division:
        return 500000001.0 / 250000001.0;
    case Kernel::Prime:
        return 30712429.0;
    case Kernel::Pi:
        return 3.1415926449823899;
    case Kernel::Power:
        return 1.0460278636963902;
    }
    return 0.0;
}

quint64 expectedCheck(Kernel kernel)
{
    switch (kernel) {
    case Kernel::Addition:
        return 0xaf0fcc5c58bdd525;
    case Kernel::Subtraction:
        return 0x7341adeceb3dd525;
    case Kernel::Multiplication:
        return 0x9135fba9fc770245;
    case Kernel::Division:
        return 0x833a92fc36d0ebb7;
    case Kernel::Prime:
        return 0xcb2a5551009410dd;
    case Kernel::Pi:
        return 0xacf387ae5a2754ae;
    case Kernel::Power:
        return 0x47c275c1869eda59;
    }
    return 0;
}

bool KernelSet::runChecked(Kernel, double *, double *, quint64 *, QString *error)
{
    *error = QStringLiteral("it has no checked kernels");
    return false;
}

KalvexLibrary::KalvexLibrary(QStringList folders, SystemPath systemPath)
    : m_folders(std::move(folders)), m_systemPath(systemPath)
{}

QStringList KalvexLibrary::installFolders()
{
    const QDir program(QCoreApplication::applicationDirPath());
    QStringList folders{program.path()};
    const QString installed =
        QDir::cleanPath(program.filePath(QLatin1String(ORVANE_LIBDIR_FROM_BINDIR)));
    if (!folders.contains(installed))
        folders << installed;
    return folders;
}

std::unique_ptr<KalvexLibrary> KalvexLibrary::fromFile(const QString &file)
{
    auto library = std::make_unique<KalvexLibrary>(QStringList(), SystemPath::Skip);
    library->m_file = file;
    return library;
}

std::unique_ptr<KalvexLibrary> KalvexLibrary::fromDescriptor(int descriptor, const QString &path)
{
    auto library = fromFile(QStringLiteral("/proc/self/fd/%1").arg(descriptor));
    library->m_shownPath = path;
    return library;
}

bool KalvexLibrary::hasCheckedKernels() const
{
    return m_loaded && std::all_of(m_checked.begin(), m_checked.end(),
                                   [](CheckedEntry entry) { return entry != nullptr; });
}

QString KalvexLibrary::buildRecord() const
{
    return m_buildRecord ? QString::fromUtf8(m_buildRecord()) : QString();
}

QString KalvexLibrary::loadedPath() const
{
    if (!m_shownPath.isEmpty())
        return m_loaded ? m_shownPath : QString();
    Dl_info info{};
    if (!m_loaded || dladdr(reinterpret_cast<void *>(m_entries[0]), &info) == 0 || !info.dli_fname)
        return {};
    return QString::fromLocal8Bit(info.dli_fname);
}

bool KalvexLibrary::load(QString *error)
{
    if (m_loaded)
        return true;
    const QStringList folders =
        m_file.isEmpty() && m_folders.isEmpty() ? installFolders() : m_folders;

    // The reason given is the one of a library that is there but would not load, if any: that
    // says more than a list of places where there was none.
    QString reason;
    bool reasonIsAFile = false;
    const auto tryLoad = [&](const QString &name, bool isAFile) {
        m_library.setFileNameAndVersion(name, SoVersion);
        if (m_library.load())
            return true;
        if (reason.isEmpty() || (isAFile && !reasonIsAFile)) {
            reason = m_library.errorString();
            reasonIsAFile = isAFile;
        }
        return false;
    };
    bool found = false;
    if (!m_file.isEmpty()) {
        const QString shown = m_shownPath.isEmpty() ? m_file : m_shownPath;
        m_library.setFileName(m_file);
        found = QFileInfo(m_file).isFile() && m_library.load();
        reason = QFileInfo(m_file).isFile() ? m_library.errorString()
                                            : QStringLiteral("%1 is not a file").arg(shown);
    }
    for (const QString &folder : folders) {
        if (found)
            break;
        const QDir dir(folder);
        const bool there = dir.exists(QStringLiteral("libkalvex.so.%1").arg(SoVersion));
        found = tryLoad(dir.filePath(QStringLiteral("kalvex")), there);
    }
    // Bare name: the dynamic loader searches the system's library path.
    if (!found && m_systemPath == SystemPath::Search)
        found = tryLoad(QStringLiteral("kalvex"), false);
    if (!found) {
        *error = reason;
        return false;
    }

    for (int k = 0; k < KernelCount; ++k) {
        const char *symbol = kernelSymbol(static_cast<Kernel>(k));
        m_entries[k] = reinterpret_cast<Entry>(m_library.resolve(symbol));
        if (!m_entries[k]) {
            *error = QStringLiteral("%1 has no entry point \"%2\"")
                         .arg(m_shownPath.isEmpty() ? m_library.fileName() : m_shownPath,
                              QLatin1String(symbol));
            m_library.unload();
            m_entries = {};
            return false;
        }
        // The checked variants are for burn-ins; a library without them still benchmarks.
        m_checked[k] = reinterpret_cast<CheckedEntry>(
            m_library.resolve(QByteArray(QByteArray(symbol) + "_checked").constData()));
    }
    m_buildRecord = reinterpret_cast<const char *(*)()>(m_library.resolve("kalvex_build_record"));
    m_loaded = true;
    return true;
}

bool KalvexLibrary::run(Kernel kernel, double *result, double *seconds, QString *error)
{
    if (!m_loaded && !load(error))
        return false;
    m_entries[static_cast<int>(kernel)](result, seconds);
    return true;
}

bool KalvexLibrary::runChecked(Kernel kernel, double *result, double *seconds, quint64 *check,
                               QString *error)
{
    if (!m_loaded && !load(error))
        return false;
    const CheckedEntry entry = m_checked[static_cast<int>(kernel)];
    if (!entry) {
        *error = QStringLiteral("it has no entry point \"%1_checked\"")
                     .arg(QLatin1String(kernelSymbol(kernel)));
        return false;
    }
    entry(result, seconds, check);
    return true;
}

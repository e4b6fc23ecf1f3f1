#include "benchmark/kernelset.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

QString KalvexLibrary::loadedPath() const
{
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
        m_library.setFileName(m_file);
        found = QFileInfo(m_file).isFile() && m_library.load();
        reason = QFileInfo(m_file).isFile() ? m_library.errorString()
                                            : QStringLiteral("%1 is not a file").arg(m_file);
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
                         .arg(m_library.fileName(), QLatin1String(symbol));
            m_library.unload();
            m_entries = {};
            return false;
        }
    }
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

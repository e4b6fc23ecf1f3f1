#include "kernelset.h"

#include <QCoreApplication>
#include <QDir>

const char *kernelSymbol(Kernel kernel)
{
    static constexpr const char *names[KernelCount] = {
        "addition", "subtraction", "multiplication", "division", "prime", "pi", "power"};
    return names[static_cast<int>(kernel)];
}

KalvexLibrary::KalvexLibrary(QStringList folders, SystemPath systemPath)
    : m_folders(std::move(folders)), m_systemPath(systemPath)
{}

bool KalvexLibrary::load(QString *error)
{
    QStringList folders = m_folders;
    if (folders.isEmpty())
        folders << QCoreApplication::applicationDirPath();

    QString reason;
    bool found = false;
    for (const QString &folder : std::as_const(folders)) {
        m_library.setFileNameAndVersion(QDir(folder).filePath(QStringLiteral("kalvex")), 1);
        if (m_library.load()) {
            found = true;
            break;
        }
        reason = m_library.errorString();
    }
    if (!found && m_systemPath == SystemPath::Search) {
        // Bare name: the dynamic loader searches the system's library path.
        m_library.setFileNameAndVersion(QStringLiteral("kalvex"), 1);
        found = m_library.load();
        if (!found && reason.isEmpty())
            reason = m_library.errorString();
    }
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

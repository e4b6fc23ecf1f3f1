#include "sysinfo/general.h"

#include "core/blanks.h"

General::General(RegistryLayer &registry, std::function<void(const QString &)> showFormatMessage)
    : m_registry(registry), m_showFormatMessage(std::move(showFormatMessage))
{}

RegKey General::GetRootKey(const QString &name)
{
    static const char *const roots[] = {
        "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
        "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
    for (RegKey i = 0; i < std::size(roots); ++i) {
        if (name == QLatin1String(roots[i]))
            return 0x80000000u + i;
    }
    return 0;
}

bool General::ParseKeyPath(QString &path, RegKey &root)
{
    const qsizetype backslash = path.indexOf(QLatin1Char('\\'));
    if (!path.startsWith(QStringLiteral("HKEY_")) || path.endsWith(QLatin1Char('\\'))) {
        if (m_showFormatMessage)
            m_showFormatMessage(QStringLiteral("Incorrect Format:\n\n") + path);
        root = 0;
        return false;
    }
    if (backslash < 0) {
        root = GetRootKey(path);
        path.clear();
    } else {
        root = GetRootKey(path.left(backslash));
        path = path.mid(backslash + 1);
    }
    return true;
}

QString General::ReadRegistryValue(const QString &keyPath, const QString &valueName)
{
    QString subKey = keyPath;
    ParseKeyPath(subKey, m_root);
    if (m_root == 0)
        return {};

    if (m_registry.open(m_root, subKey.toLocal8Bit(), 0, RegKeyRead, &m_key) != RegSuccess)
        return QStringLiteral("Error");

    m_buffer = QByteArray(BufferLength, ' ');
    m_length = BufferLength;
    std::uint32_t type = 0;
    const RegStatus status =
        m_registry.queryValue(m_key, valueName.toLocal8Bit(), &type, m_buffer.data(), &m_length);
    // The key is closed on both paths: a failed query leaves no handle open.
    m_registry.close(m_key);
    if (status != RegSuccess)
        return QStringLiteral("Error");

    // The whole buffer comes back: blanks trimmed from both ends, then the last character,
    // the NUL a string value ends in, dropped.
    const QString text = trimBlanks(QString::fromLocal8Bit(m_buffer));
    return text.isEmpty() ? QString() : text.chopped(1);
}

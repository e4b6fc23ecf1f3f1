#include "temperature.h"

#include "sysinfo/hostinfo.h"

#include <QDir>

#include <set>

namespace {

QByteArray read(const QString &path)
{
    return readHostFile(path, 4096).trimmed();
}

} // namespace

Thermometer::Thermometer(const QString &root) : m_root(root)
{
    const QDir hwmon(QDir(root).filePath(QStringLiteral("sys/class/hwmon")));
    const std::set<QByteArray> drivers{"coretemp", "k10temp", "zenpower"};
    int driverIndex = 0;
    for (const QString &entry : hwmon.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString dir = hwmon.filePath(entry) + QLatin1Char('/');
        const QByteArray name = read(dir + QStringLiteral("name"));
        if (!drivers.count(name))
            continue;
        const QStringList inputs =
            QDir(dir).entryList({QStringLiteral("temp*_input")}, QDir::Files, QDir::Name);
        for (const QString &input : inputs) {
            const QString stem = input.chopped(6); // temp1
            const QByteArray label = read(dir + stem + QStringLiteral("_label"));
            if (name == "coretemp" && label.startsWith("Package id ")) {
                m_packages.emplace(label.mid(11).toInt(), dir + input);
            } else if (name != "coretemp" && (label == "Tctl" || label == "Tdie" ||
                                              (label.isEmpty() && stem == u"temp1"))) {
                // One such sensor per package, in the order the packages come.
                m_packages.emplace(driverIndex, dir + input);
                break;
            }
        }
        if (name != "coretemp")
            ++driverIndex;
    }
    if (!m_packages.empty())
        return;
    const QDir thermal(QDir(root).filePath(QStringLiteral("sys/class/thermal")));
    int zoneIndex = 0;
    for (const QString &zone :
         thermal.entryList({QStringLiteral("thermal_zone*")}, QDir::Dirs, QDir::Name)) {
        const QString dir = thermal.filePath(zone) + QLatin1Char('/');
        if (read(dir + QStringLiteral("type")) == "x86_pkg_temp")
            m_packages.emplace(zoneIndex++, dir + QStringLiteral("temp"));
    }
}

std::optional<double> Thermometer::celsius(int cpu) const
{
    if (m_packages.empty() || cpu < 0)
        return std::nullopt;
    const QByteArray package = read(QDir(m_root).filePath(
        QStringLiteral("sys/devices/system/cpu/cpu%1/topology/physical_package_id").arg(cpu)));
    bool ok = false;
    const int id = package.toInt(&ok);
    const auto found = m_packages.find(ok ? id : 0);
    if (found == m_packages.end())
        return std::nullopt;
    const QByteArray millidegrees = read(found->second);
    const double value = millidegrees.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value / 1000.0;
}

// Where a machine tells the temperature of its processor packages: hwmon sensors of the
// processor drivers (coretemp's "Package id N", k10temp's Tctl or Tdie, zenpower), else the
// thermal zones of type x86_pkg_temp, one per package. The reader takes the file system's root,
// so tests can hand it a tree of their own.
#pragma once

#include <QString>

#include <map>
#include <optional>

class Thermometer
{
public:
    explicit Thermometer(const QString &root = QStringLiteral("/"));

    // Whether any package's temperature can be read.
    bool available() const { return !m_packages.empty(); }
    // Degrees Celsius of the package the processor belongs to; nothing when unknown.
    std::optional<double> celsius(int cpu) const;

private:
    QString m_root;
    std::map<int, QString> m_packages; // package id: the file that holds its millidegrees
};

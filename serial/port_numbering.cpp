// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_numbering.h"

#include <QSerialPortInfo>
#include <algorithm>
#include <tuple>
#include <vector>

namespace serial {

namespace {

// Where a port goes in the COM order: its group, then the name without its trailing number, then
// that number (absent numbers first), and the whole path to keep the order total.
struct SortKey {
    int group = 0;
    QString stem;
    qint64 number = -1;
    QString path;

    bool operator<(const SortKey& other) const {
        return std::tie(group, stem, number, path) <
               std::tie(other.group, other.stem, other.number, other.path);
    }
};

SortKey sortKey(const QString& path) {
    const QString name = path.section(u'/', -1);
    qsizetype digits = 0;
    while (digits < name.size() && name.at(name.size() - 1 - digits).isDigit()) {
        ++digits;
    }
    SortKey key;
    key.stem = name.left(name.size() - digits);
    key.path = path;
    if (digits > 0) {
        bool ok = false;
        const qint64 number = name.right(digits).toLongLong(&ok);
        key.number = ok ? number : -1;
    }
    // A name such as ttySAC0 is not an on-board UART: the stem must match exactly.
    static const QStringList kGroupStems{QStringLiteral("ttyS"), QStringLiteral("ttyUSB"),
                                         QStringLiteral("ttyACM")};
    const qsizetype group = kGroupStems.indexOf(key.stem);
    key.group = static_cast<int>(group < 0 ? kGroupStems.size() : group);
    return key;
}

}  // namespace

QStringList PortNumbering::comOrder(const QStringList& ports) {
    std::vector<SortKey> keys;
    keys.reserve(static_cast<std::size_t>(ports.size()));
    for (const QString& path : ports) {
        keys.push_back(sortKey(path));
    }
    std::sort(keys.begin(), keys.end());
    QStringList ordered;
    for (const SortKey& key : keys) {
        if (ordered.isEmpty() || ordered.constLast() != key.path) {
            ordered.append(key.path);
        }
    }
    return ordered;
}

QStringList PortNumbering::systemPorts() {
    QStringList paths;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        paths.append(info.systemLocation());
    }
    return paths;
}

QString PortNumbering::resolve(std::int16_t port, const QStringList& ports) const {
    return resolve(port, [&ports] { return ports; });
}

QString PortNumbering::resolve(std::int16_t port,
                               const std::function<QStringList()>& listPorts) const {
    if (const auto pinned = m_pins.find(port); pinned != m_pins.end()) {
        return pinned->second;
    }
    if (const auto binding = m_bindings.find(port); binding != m_bindings.end()) {
        return binding->second;
    }
    if (port < 1) {
        return {};
    }
    return comOrder(listPorts()).value(port - 1);
}

}  // namespace serial

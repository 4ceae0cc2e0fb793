// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/port_list.h"

#include <sys/stat.h>

#include <QFileInfo>
#include <algorithm>

namespace app {

namespace {

constexpr int kLastPort = 4;

// What stands at a lock path instead of a lock file.
QString fileType(mode_t type) {
    switch (type) {
        case S_IFIFO:
            return QStringLiteral("a FIFO");
        case S_IFLNK:
            return QStringLiteral("a symbolic link");
        case S_IFDIR:
            return QStringLiteral("a folder");
        case S_IFCHR:
        case S_IFBLK:
            return QStringLiteral("a device");
        case S_IFSOCK:
            return QStringLiteral("a socket");
        default:
            return QStringLiteral("not a regular file");
    }
}

QString holderText(const serial::PortReport& report) {
    using Holder = serial::PortReport::Holder;
    const QString process =
        report.holderName.isEmpty()
            ? QStringLiteral("process %1").arg(report.pid)
            : QStringLiteral("process %1 (%2)").arg(report.pid).arg(report.holderName);
    switch (report.holder) {
        case Holder::None:
            return QStringLiteral("free");
        case Holder::Lock:
            return QStringLiteral("busy: locked by %1 in %2").arg(process, report.lockFile);
        case Holder::LockNoOne:
            return QStringLiteral(
                       "busy: lock file %1 names no process; remove it if no program "
                       "uses the port")
                .arg(report.lockFile);
        case Holder::NotAFile:
            return QStringLiteral(
                       "busy: %1 is %2, not a lock file; remove it if no program uses the port")
                .arg(report.lockFile, fileType(report.lockType));
        case Holder::Flock:
            return QStringLiteral("busy: flock held by %1").arg(process);
        case Holder::OpenFile:
            return QStringLiteral("busy: open in %1").arg(process);
    }
    return {};
}

}  // namespace

QString portLine(int number, const serial::PortReport& report) {
    QStringList fields{QStringLiteral("COM%1").arg(number)};
    if (report.path.isEmpty()) {
        fields.append(QStringLiteral("no device"));
        return fields.join(QStringLiteral("  "));
    }
    fields.append(report.node.isEmpty() || report.node == report.path
                      ? report.path
                      : QStringLiteral("%1 -> %2").arg(report.path, report.node));
    if (report.node.isEmpty()) {
        fields.append(QStringLiteral("no such device"));
        return fields.join(QStringLiteral("  "));
    }
    QStringList identity;
    if (!report.description.isEmpty()) {
        identity.append(report.description);
    }
    if (!report.manufacturer.isEmpty()) {
        identity.append(QStringLiteral("made by ") + report.manufacturer);
    }
    if (!report.serialNumber.isEmpty()) {
        identity.append(QStringLiteral("serial number ") + report.serialNumber);
    }
    if (!identity.isEmpty()) {
        fields.append(identity.join(QStringLiteral(", ")));
    }
    if (!report.byIdName.isEmpty()) {
        fields.append(report.byIdName);
    }
    fields.append(holderText(report));
    fields.append(report.mayOpen
                      ? QStringLiteral("you may open it")
                      : QStringLiteral("no permission: join group %1 (sudo usermod -aG %1 "
                                       "\"$USER\", then log in again)")
                            .arg(report.group));
    if (number > kLastPort) {
        fields.append(QStringLiteral("not in the port list: bind it with --port COMn=%1")
                          .arg(report.byIdName.isEmpty() ? report.path : report.byIdName));
    }
    return fields.join(QStringLiteral("  "));
}

QList<NumberedPort> numberedPorts(const serial::PortNumbering& numbering,
                                  const QStringList& systemPorts,
                                  const std::function<serial::PortReport(const QString&)>& report) {
    const auto count = std::max<qsizetype>(kLastPort, systemPorts.size());
    QList<NumberedPort> numbered;
    for (int number = 1; number <= count; ++number) {
        const QString path = numbering.resolve(static_cast<std::int16_t>(number), systemPorts);
        serial::PortReport known = path.isEmpty() ? serial::PortReport{} : report(path);
        known.path = path;
        numbered.append({number, known});
    }
    return numbered;
}

QList<NumberedPort> numberedPorts(const serial::PortNumbering& numbering,
                                  const QList<QSerialPortInfo>& ports) {
    QStringList systemPorts;
    for (const QSerialPortInfo& info : ports) {
        systemPorts.append(info.systemLocation());
    }
    return numberedPorts(numbering, systemPorts,
                         [&ports](const QString& path) { return serial::reportPort(path, ports); });
}

QString portList(const serial::PortNumbering& numbering, const QStringList& systemPorts,
                 const std::function<serial::PortReport(const QString&)>& report) {
    QString text;
    for (const NumberedPort& port : numberedPorts(numbering, systemPorts, report)) {
        text += portLine(port.number, port.report) + u'\n';
    }
    return text;
}

QString portList(const serial::PortNumbering& numbering, const QList<QSerialPortInfo>& ports) {
    QString text;
    for (const NumberedPort& port : numberedPorts(numbering, ports)) {
        text += portLine(port.number, port.report) + u'\n';
    }
    return text;
}

}  // namespace app

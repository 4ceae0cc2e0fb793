// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_follower.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include "serial/port_report.h"
#include "serial/uucp_lock.h"

namespace serial {

namespace {

// The folder `path` is in, or, when that is gone (udev removes /dev/serial/by-id with the last
// adapter), the nearest folder above it that exists, where it will be made again.
QString nearestFolder(const QString& path) {
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo(folder).isDir() && folder != u"/") {
        folder = QFileInfo(folder).absolutePath();
    }
    return folder;
}

}  // namespace

PortFollower::PortFollower(PortNumbering& numbering, ListAdapters list, QObject* parent)
    : QObject(parent), m_numbering(numbering), m_list(std::move(list)) {
    connect(&m_files, &FileWatch::changed, this, &PortFollower::filesChanged);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &PortFollower::filesChanged);
}

QList<PortFollower::Adapter> PortFollower::systemAdapters() {
    QList<Adapter> adapters;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        adapters.append({path, byIdName(QFileInfo(path).canonicalFilePath()), info.serialNumber()});
    }
    return adapters;
}

void PortFollower::follow(std::int16_t port) {
    if (const auto binding = m_numbering.bindings().find(port);
        binding != m_numbering.bindings().end()) {
        m_identities[port] = {binding->second, {}};
        return;
    }
    const QString path = m_numbering.resolve(port);
    const QString node = QFileInfo(path).canonicalFilePath();
    Identity identity{path, {}};
    for (const Adapter& adapter : m_list()) {
        if (QFileInfo(adapter.path).canonicalFilePath() != node) {
            continue;
        }
        if (!adapter.byIdName.isEmpty()) {
            identity = {adapter.byIdName, {}};
        } else if (!adapter.serialNumber.isEmpty()) {
            identity = {adapter.path, adapter.serialNumber};
        }
        break;
    }
    m_identities[port] = identity;
    m_numbering.pin(port, identity.path);
}

void PortFollower::forget() {
    m_numbering.unpinAll();
    m_identities.clear();
}

void PortFollower::watch(std::int16_t port) {
    m_watched = port;
    locate(port);
    arm(port);
}

void PortFollower::stopWatching() {
    m_watched = 0;
    m_retry.stop();
    m_files.close();
}

void PortFollower::locate(std::int16_t port) {
    const auto found = m_identities.find(port);
    if (found == m_identities.end() || found->second.serialNumber.isEmpty()) {
        return;
    }
    Identity& identity = found->second;
    QString now;
    for (const Adapter& adapter : m_list()) {
        if (adapter.serialNumber == identity.serialNumber) {
            now = adapter.path;
            break;
        }
    }
    if (!now.isEmpty()) {
        identity.path = now;
    }
    m_numbering.pin(port, now);
}

void PortFollower::arm(std::int16_t port) {
    const auto found = m_identities.find(port);
    const QString path =
        found != m_identities.end() ? found->second.path : m_numbering.resolve(port);
    QStringList folders{QStringLiteral("/dev")};
    QStringList files;
    if (!path.isEmpty()) {
        folders.append(nearestFolder(path));
        const QFileInfo info(path);
        if (info.isSymLink()) {
            folders.append(nearestFolder(info.symLinkTarget()));
        }
        const QString node = info.canonicalFilePath();
        const QString lockFile = uucp_lock::lockFilePath(node.isEmpty() ? path : node);
        if (!lockFile.isEmpty()) {
            folders.append(QFileInfo(lockFile).absolutePath());
        }
        if (!node.isEmpty()) {
            files.append(node);
        }
    }
    folders.removeDuplicates();
    m_files.open(folders, files);
    // The device is there: what keeps it from opening may end without a notice.
    m_retry.stop();
    if (!files.isEmpty()) {
        m_retry.start();
    }
}

void PortFollower::filesChanged() {
    if (m_watched == 0) {
        return;
    }
    locate(m_watched);
    raiseChange();
}

QString PortFollower::awaitedDevice(std::int16_t port) {
    if (const auto found = m_identities.find(port); found != m_identities.end()) {
        const Identity& identity = found->second;
        return identity.serialNumber.isEmpty()
                   ? identity.path
                   : QStringLiteral("序列号为 %1 的串口适配器（上次是 %2）")
                         .arg(identity.serialNumber, identity.path);
    }
    if (const auto binding = m_numbering.bindings().find(port);
        binding != m_numbering.bindings().end()) {
        return binding->second;
    }
    return QStringLiteral("本机串口顺序中的第 %1 个串口").arg(port);
}

QString PortFollower::holder(std::int16_t port) {
    const PortReport report = reportPort(m_numbering.resolve(port), {});
    switch (report.holder) {
        case PortReport::Holder::None:
            break;
        case PortReport::Holder::LockNoOne:
            return QStringLiteral("锁文件 %1（其中没有有效的进程号）").arg(report.lockFile);
        case PortReport::Holder::NotAFile:
            return QStringLiteral("锁文件的位置 %1 上的非普通文件").arg(report.lockFile);
        case PortReport::Holder::Lock:
        case PortReport::Holder::Flock:
        case PortReport::Holder::OpenFile:
            return report.holderName.isEmpty()
                       ? QStringLiteral("进程 %1").arg(report.pid)
                       : QStringLiteral("进程 %1（%2）").arg(report.pid).arg(report.holderName);
    }
    return {};
}

}  // namespace serial

// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/port_report.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>

#include "serial/uucp_lock.h"

namespace serial {

namespace {

// The process holding an flock on `node`, from the kernel's table of locks; 0 when none does.
pid_t flockHolder(const QString& node) {
    struct stat info {};
    if (::stat(QFile::encodeName(node).constData(), &info) != 0) {
        return 0;
    }
    // "1: FLOCK  ADVISORY  WRITE 1234 00:05:87 0 EOF": the file is major:minor:inode of its
    // filesystem, the numbers in hex and the inode in decimal.
    const QString file = QStringLiteral("%1:%2:%3")
                             .arg(major(info.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(minor(info.st_dev), 2, 16, QLatin1Char('0'))
                             .arg(info.st_ino);
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly)) {
        return 0;
    }
    // A file of /proc reports no size, so it is read whole rather than to an end Qt cannot see.
    const QStringList lines = QString::fromLatin1(locks.readAll()).split(u'\n');
    for (const QString& line : lines) {
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        if (fields.size() >= 6 && fields[1] == u"FLOCK" && fields[5] == file) {
            return static_cast<pid_t>(fields[4].toInt());
        }
    }
    return 0;
}

// Another process that has `node` open, among those whose descriptors this user may read.
pid_t openedBy(const QString& node) {
    const QDir proc(QStringLiteral("/proc"));
    for (const QString& entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        if (!number || pid == ::getpid()) {
            continue;
        }
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            if (fd.symLinkTarget() == node) {
                return pid;
            }
        }
    }
    return 0;
}

}  // namespace

QString byIdName(const QString& node) {
    const QDir folder(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : folder.entryInfoList(QDir::System | QDir::Files)) {
        if (link.canonicalFilePath() == node) {
            return link.absoluteFilePath();
        }
    }
    return {};
}

bool permissionDenied(const QString& path) {
    return ::access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0 && errno == EACCES;
}

QString owningGroup(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return QStringLiteral("dialout");
    }
    if (const group* entry = ::getgrgid(info.st_gid); entry != nullptr) {
        return QString::fromLocal8Bit(entry->gr_name);
    }
    return QString::number(info.st_gid);
}

PortReport reportPort(const QString& path, const QList<QSerialPortInfo>& ports) {
    PortReport report;
    report.path = path;
    report.node = QFileInfo(path).canonicalFilePath();
    if (report.node.isEmpty()) {
        return report;
    }
    for (const QSerialPortInfo& info : ports) {
        if (QFileInfo(info.systemLocation()).canonicalFilePath() == report.node) {
            report.description = info.description();
            report.manufacturer = info.manufacturer();
            report.serialNumber = info.serialNumber();
            break;
        }
    }
    report.byIdName = byIdName(report.node);
    report.mayOpen = !permissionDenied(report.node);
    report.group = owningGroup(report.node);

    report.lockFile = uucp_lock::lockFilePath(report.node);
    const uucp_lock::Lock lock = uucp_lock::readLock(report.lockFile);
    if (lock.state == uucp_lock::Lock::State::Held) {
        report.holder = PortReport::Holder::Lock;
        report.pid = lock.pid;
    } else if (lock.state == uucp_lock::Lock::State::NamesNoOne) {
        report.holder = PortReport::Holder::LockNoOne;
    } else if (lock.state == uucp_lock::Lock::State::NotAFile) {
        report.holder = PortReport::Holder::NotAFile;
        report.lockType = lock.type;
    } else if (const pid_t pid = flockHolder(report.node); pid > 0) {
        report.holder = PortReport::Holder::Flock;
        report.pid = pid;
    } else if (const pid_t opener = openedBy(report.node); opener > 0) {
        report.holder = PortReport::Holder::OpenFile;
        report.pid = opener;
    }
    if (report.pid > 0) {
        report.holderName = uucp_lock::processName(report.pid);
    }
    return report;
}

}  // namespace serial

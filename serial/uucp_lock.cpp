// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/uucp_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace serial::uucp_lock {

namespace {

// More than any lock file holds; a larger file is not a lock.
constexpr qint64 kMaxLockSize = 4096;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The ASCII forms: blanks, digits, then the end, a newline or a blank before the names.
std::optional<std::int64_t> asciiPid(const QByteArray& contents) {
    qsizetype at = 0;
    while (at < contents.size() && isBlank(contents[at])) {
        ++at;
    }
    const qsizetype first = at;
    std::int64_t value = 0;
    while (at < contents.size() && isDigit(contents[at])) {
        // Anything past the largest PID is no PID, however long: stop before it overflows.
        if (value <= std::numeric_limits<pid_t>::max()) {
            value = value * 10 + (contents[at] - '0');
        }
        ++at;
    }
    if (at == first) {
        return std::nullopt;
    }
    if (at < contents.size() && contents[at] != '\n' && !isBlank(contents[at])) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<pid_t> pidFromContents(const QByteArray& contents) {
    std::optional<std::int64_t> pid = asciiPid(contents);
    if (!pid && contents.size() == static_cast<qsizetype>(sizeof(std::int32_t))) {
        std::int32_t binary = 0;
        std::memcpy(&binary, contents.constData(), sizeof binary);
        pid = binary;
    }
    if (!pid || *pid <= 0 || *pid > std::numeric_limits<pid_t>::max()) {
        return std::nullopt;
    }
    return static_cast<pid_t>(*pid);
}

bool processAlive(pid_t pid) {
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

QString lockFilePath(const QString& devicePath) {
    // Qt's list and choice, so that the file read here is the one its open takes.
    static const QStringList kFolders{"/var/lock",         "/etc/locks", "/var/spool/locks",
                                      "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                      "/var/lock/lockdev", "/run/lock"};
    QString name = devicePath.startsWith(u"/dev/") ? devicePath.mid(5) : devicePath;
    name.replace(u'/', u'_');
    name.prepend(u"/LCK..");
    for (const QString& folder : kFolders) {
        const QFileInfo info(folder);
        if (info.isReadable() && (QFileInfo::exists(folder + name) || info.isWritable())) {
            return folder + name;
        }
    }
    return {};
}

Lock readLock(const QString& file, const std::function<bool(pid_t)>& alive) {
    // Any user may plant something at a lock path. Only a regular file is opened, and the open
    // neither follows a link nor waits: a FIFO put there between the look and the open would
    // otherwise hold the program in open() until someone writes to it.
    const QByteArray path = QFile::encodeName(file);
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0) {
        if (errno == ENOENT) {
            return {};
        }
        return {Lock::State::NamesNoOne, 0, qt_error_string(errno)};
    }
    if (!S_ISREG(status.st_mode)) {
        return {Lock::State::NotAFile, 0, {}, status.st_mode & S_IFMT};
    }
    const int fd =
        ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return {};
        }
        if (errno == ELOOP) {
            return {Lock::State::NotAFile, 0, {}, S_IFLNK};
        }
        return {Lock::State::NamesNoOne, 0, qt_error_string(errno)};
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return {Lock::State::NotAFile, 0, {}, status.st_mode & S_IFMT};
    }
    QByteArray contents(kMaxLockSize, Qt::Uninitialized);
    qsizetype size = 0;
    int readError = 0;
    while (size < contents.size()) {
        const ssize_t got =
            ::read(fd, contents.data() + size, static_cast<std::size_t>(contents.size() - size));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            readError = got < 0 ? errno : 0;
            break;
        }
        size += got;
    }
    ::close(fd);
    if (readError != 0) {
        return {Lock::State::NamesNoOne, 0, qt_error_string(readError)};
    }
    contents.truncate(size);
    const std::optional<pid_t> pid = pidFromContents(contents);
    if (!pid) {
        return {Lock::State::NamesNoOne, 0, {}};
    }
    return {alive(*pid) ? Lock::State::Held : Lock::State::Stale, *pid, {}};
}

QString processName(pid_t pid) {
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromLocal8Bit(comm.readLine().trimmed());
}

}  // namespace serial::uucp_lock

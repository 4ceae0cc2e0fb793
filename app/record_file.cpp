// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/record_file.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

#include "codec/hex_codec.h"

namespace app {

namespace {

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The local time now, to the millisecond, with the UTC offset: 2026-12-07T14:03:05.123+08:00.
void appendTimestamp(QByteArray& line) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    std::array<char, 40> text{};
    std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%S", &local);
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    const int more = std::snprintf(text.data() + length, text.size() - length,
                                   ".%03ld%c%02ld:%02ld", now.tv_nsec / 1'000'000,
                                   offsetMinutes < 0 ? '-' : '+', absolute / 60, absolute % 60);
    length += static_cast<std::size_t>(more > 0 ? more : 0);
    line.append(text.data(), static_cast<qsizetype>(length));
}

// `text` in UTF-8 with backslash, tab, CR and LF escaped, so that it stays one field of one line.
void appendField(QByteArray& line, QStringView text) {
    line += '\t';
    for (const char c : text.toUtf8()) {
        switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\r':
                line += "\\r";
                break;
            case '\n':
                line += "\\n";
                break;
            default:
                line += c;
                break;
        }
    }
}

// A flood brings thousands of bytes per event, so the digits are written in place rather than
// appended one character at a time.
void appendBytes(QByteArray& line, std::span<const std::uint8_t> bytes) {
    const qsizetype start = line.size();
    const qsizetype digits = static_cast<qsizetype>(bytes.size()) * 3;
    line.resize(start + (bytes.empty() ? 1 : digits));
    char* out = line.data() + start;
    for (const std::uint8_t byte : bytes) {
        *out++ = ' ';
        *out++ = static_cast<char>(codec::kUpperHexDigits[byte >> 4]);
        *out++ = static_cast<char>(codec::kUpperHexDigits[byte & 0x0F]);
    }
    // The field's tab takes the place of the first byte's space.
    line[start] = '\t';
}

}  // namespace

std::unique_ptr<RecordFile> RecordFile::open(const QString& path, QString& error) {
    const auto failed = [&](const QString& reason) {
        error = QStringLiteral("zeva-relay-test: cannot open the traffic record '%1': %2\n")
                    .arg(path == u"-" ? QStringLiteral("standard output") : path, reason);
        return nullptr;
    };
    if (path == u"-") {
        struct stat status {};
        if (::fstat(STDOUT_FILENO, &status) != 0) {
            return failed(QStringLiteral("it is closed"));
        }
        if (S_ISREG(status.st_mode)) {
            return std::unique_ptr<RecordFile>(new RecordFile(STDOUT_FILENO, false, Kind::File,
                                                              QStringLiteral("standard output")));
        }
        if (S_ISSOCK(status.st_mode)) {
            return std::unique_ptr<RecordFile>(new RecordFile(STDOUT_FILENO, false, Kind::Socket,
                                                              QStringLiteral("standard output")));
        }
        // A descriptor of its own on the same pipe or terminal, made non-blocking: standard
        // output's own may be shared with standard error and with the shell, which must not
        // find it non-blocking.
        const int fd =
            ::open("/proc/self/fd/1", O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            return failed(errno == ENXIO ? QStringLiteral("no program is reading it")
                                         : systemReason(errno));
        }
        return std::unique_ptr<RecordFile>(
            new RecordFile(fd, true, Kind::Stream, QStringLiteral("standard output")));
    }
    const QByteArray encoded = path.toLocal8Bit();
    // Not blocking: a FIFO with no reader would hold the open until one came. The file's mode
    // follows the umask, as for any file a program creates.
    const int fd = ::open(encoded.constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int reason = errno;
        struct stat status {};
        if (reason == ENXIO && ::stat(encoded.constData(), &status) == 0 &&
            S_ISFIFO(status.st_mode)) {
            return failed(QStringLiteral("it is a FIFO that no program is reading"));
        }
        return failed(systemReason(reason));
    }
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    return std::unique_ptr<RecordFile>(
        new RecordFile(fd, true, regular ? Kind::File : Kind::Stream, path));
}

RecordFile::RecordFile(int fd, bool owned, Kind kind, QString name)
    : m_fd(fd), m_owned(owned), m_kind(kind), m_name(std::move(name)) {}

RecordFile::~RecordFile() {
    // What still waits goes if the reader has room now; the program does not wait for it.
    m_room.reset();
    while (m_waitingAt < m_waiting.size()) {
        const ssize_t written = writeSome(m_waiting.constData() + m_waitingAt,
                                          static_cast<std::size_t>(m_waiting.size() - m_waitingAt));
        if (written <= 0) {
            break;
        }
        m_waitingAt += written;
    }
    if (m_owned) {
        ::close(m_fd);
    }
}

void RecordFile::setDevicePaths(std::function<QString(std::int16_t)> devicePath) {
    m_devicePath = std::move(devicePath);
}

void RecordFile::portOpened(std::int16_t port, const QString& settings) {
    m_port = port;
    m_device = m_devicePath ? m_devicePath(port) : QString();
    record("opened", port, settings);
}

void RecordFile::portClosed(std::int16_t port) {
    record("closed", port, {});
    m_port = 0;
    m_device.clear();
}

void RecordFile::portLost(std::int16_t port, const QString& reason) {
    record("lost", port, reason);
    m_port = 0;
    m_device.clear();
}

void RecordFile::frameWritten(const QString& text, std::span<const std::uint8_t> written) {
    record("sent", m_port, text, written);
}

void RecordFile::bytesReceived(std::span<const std::uint8_t> bytes) {
    record("received", m_port, {}, bytes);
}

void RecordFile::errorShown(const QString& message) {
    record("error", m_port, message);
}

QString RecordFile::takeFailure() {
    return std::exchange(m_failure, QString());
}

void RecordFile::record(const char* event, std::int16_t port, QStringView text,
                        std::span<const std::uint8_t> bytes) {
    if (m_stopped) {
        return;
    }
    m_line.resize(0);
    appendTimestamp(m_line);
    m_line += '\t';
    m_line += event;
    m_line += '\t';
    if (port > 0) {
        m_line += "COM" + QByteArray::number(port);
    }
    appendField(m_line, port > 0 && port == m_port ? QStringView(m_device) : QStringView());
    appendField(m_line, text);
    appendBytes(m_line, bytes);
    m_line += '\n';
    writeLine();
}

void RecordFile::writeLine() {
    if (m_kind == Kind::File) {
        writeToFile();
    } else {
        writeToStream();
    }
}

void RecordFile::writeToFile() {
    // A file that was removed still takes writes, into nothing anyone can read any more.
    struct stat status {};
    if (::fstat(m_fd, &status) == 0 && status.st_nlink == 0) {
        stop(QStringLiteral("the file was removed"));
        return;
    }
    const char* data = m_line.constData();
    const auto size = static_cast<std::size_t>(m_line.size());
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(m_fd, data + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            QString reason =
                written < 0 ? systemReason(errno) : QStringLiteral("nothing was written");
            // The part of the line that fitted (the disk filled up during it) is taken back, so
            // that the file ends with a whole line. O_APPEND left the offset at its end.
            const off_t end = done > 0 ? ::lseek(m_fd, 0, SEEK_CUR) : 0;
            if (done > 0 && (end < 0 || ::ftruncate(m_fd, end - static_cast<off_t>(done)) != 0)) {
                reason += QStringLiteral(", and the record ends with part of a line");
            }
            stop(reason);
            return;
        }
        done += static_cast<std::size_t>(written);
    }
}

void RecordFile::writeToStream() {
    if (m_waitingAt < m_waiting.size()) {
        const qsizetype waiting = m_waiting.size() - m_waitingAt;
        if (waiting + m_line.size() <= kMaxWaiting) {
            m_waiting += m_line;
            return;
        }
        // Lines not begun are dropped, the rest of one begun still goes, so that the reader
        // gets whole lines.
        qsizetype keep = m_waitingAt;
        if (m_waitingAt > 0 && m_waiting[m_waitingAt - 1] != '\n') {
            keep = m_waiting.indexOf('\n', m_waitingAt) + 1;
        }
        const qsizetype lost = QByteArrayView(m_waiting).sliced(keep).count('\n') + 1;
        m_waiting.truncate(keep);
        stop(QStringLiteral("its reader fell %1 KiB behind, and %2 lines were not written")
                 .arg(kMaxWaiting / 1024)
                 .arg(lost));
        return;
    }
    m_waiting = m_line;
    m_waitingAt = 0;
    writeWaiting();
}

void RecordFile::writeWaiting() {
    while (m_waitingAt < m_waiting.size()) {
        const ssize_t written = writeSome(m_waiting.constData() + m_waitingAt,
                                          static_cast<std::size_t>(m_waiting.size() - m_waitingAt));
        if (written < 0) {
            const int error = errno;
            m_waiting.clear();
            m_waitingAt = 0;
            if (!m_stopped) {
                stop(systemReason(error));
            }
            break;
        }
        if (written == 0) {
            if (!m_room) {
                m_room = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
                QObject::connect(m_room.get(), &QSocketNotifier::activated, m_room.get(),
                                 [this] { writeWaiting(); });
            }
            m_room->setEnabled(true);
            return;
        }
        m_waitingAt += written;
    }
    if (m_waitingAt == m_waiting.size()) {
        m_waiting.resize(0);
        m_waitingAt = 0;
    }
    if (m_room) {
        m_room->setEnabled(false);
    }
}

ssize_t RecordFile::writeSome(const char* data, std::size_t size) const {
    for (;;) {
        const ssize_t written = m_kind == Kind::Socket
                                    ? ::send(m_fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL)
                                    : ::write(m_fd, data, size);
        if (written >= 0 || errno != EINTR) {
            return written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : written;
        }
    }
}

void RecordFile::stop(const QString& reason) {
    m_stopped = true;
    std::fputs(qPrintable(QStringLiteral("zeva-relay-test: cannot write the traffic record '%1': "
                                         "%2; recording has stopped.\n")
                              .arg(m_name, reason)),
               stderr);
    m_failure = QStringLiteral(
                    "无法写入通信记录“%1”：%2。\n记录已停止，重新启动程序后才会继续记录；"
                    "窗口中的内容不受影响。")
                    .arg(m_name, reason);
}

}  // namespace app

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/record_file.h"

#include <fcntl.h>
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
    if (path == u"-") {
        struct stat status {};
        const bool regular = ::fstat(STDOUT_FILENO, &status) == 0 && S_ISREG(status.st_mode);
        return std::unique_ptr<RecordFile>(
            new RecordFile(STDOUT_FILENO, false, regular, QStringLiteral("standard output")));
    }
    const QByteArray encoded = path.toLocal8Bit();
    int fd = -1;
    do {
        // The file's mode follows the umask, as for any file a program creates.
        fd = ::open(encoded.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = QStringLiteral("zeva-relay-test: cannot open the traffic record '%1': %2\n")
                    .arg(path, systemReason(errno));
        return nullptr;
    }
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    return std::unique_ptr<RecordFile>(new RecordFile(fd, true, regular, path));
}

RecordFile::RecordFile(int fd, bool owned, bool regular, QString name)
    : m_fd(fd), m_owned(owned), m_regular(regular), m_name(std::move(name)) {}

RecordFile::~RecordFile() {
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
    // A file that was removed still takes writes, into nothing anyone can read any more.
    struct stat status {};
    if (m_regular && ::fstat(m_fd, &status) == 0 && status.st_nlink == 0) {
        stop(QStringLiteral("the file was removed"));
        return;
    }
    const char* data = m_line.constData();
    auto left = static_cast<std::size_t>(m_line.size());
    while (left > 0) {
        const ssize_t written = ::write(m_fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            stop(written < 0 ? systemReason(errno) : QStringLiteral("nothing was written"));
            return;
        }
        const auto count = static_cast<std::size_t>(written);
        if (count < left && m_regular) {
            stop(QStringLiteral("only %1 of %2 bytes of the line were written, so the record "
                                "ends with part of a line")
                     .arg(count)
                     .arg(left));
            return;
        }
        // A pipe or terminal may take a long line in parts.
        data += count;
        left -= count;
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

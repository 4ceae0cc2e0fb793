// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The traffic record of --log: one line per event, appended to a file (or written to standard
// output) with a single write(2) before the handler that caused it returns. The file is opened
// with O_APPEND, so a killed program leaves whole lines behind it, and two programs recording
// into one file interleave whole lines. The file is the one the path names, through a symlink
// too: the path is the operator's own.
//
// A line is six fields separated by tabs, each field always present (empty when it does not
// apply), ended by LF, in UTF-8:
//
//     time  event  port  device  text  bytes
//
//   time    local time to the millisecond with the UTC offset: 2026-12-07T14:03:05.123+08:00
//   event   opened, closed, lost, sent, received or error
//   port    COM1 to COM4, the port the event concerns (for sent, received and error the port open
//           at the time); empty when none is open
//   device  the device path of that port
//   text    opened: the line settings; lost: the reason; sent: the command text as the operator
//           left it; error: the message shown. Backslash, tab, CR and LF are written as \\, \t,
//           \r and \n, so an event stays on one line.
//   bytes   sent: the bytes written (fewer than the text holds, or none, when it did not all
//           convert or the port failed); received: the bytes of one receive event. Upper-case
//           hexadecimal pairs separated by spaces, as in the window.
//
// A write that fails (disk full, a short write, the file removed) stops the record: one line on
// standard error, and once the window's logic asks, one message for a message box. Nothing is
// recorded after that until the program is started again, and a file ends at its last whole line.
//
// The record never makes the program wait. A FIFO with no reader is refused at the open. A pipe,
// a FIFO or a terminal is written without blocking; what its reader has not taken yet waits in a
// buffer of at most 1 MiB, written as the reader makes room. A reader that lets the buffer fill
// stops the record like a full disk; it still gets whole lines, but one that ends the program
// while it is not reading may find its last line cut.

#include <QByteArray>
#include <QSocketNotifier>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "logic/traffic_record.h"

namespace app {

class RecordFile final : public logic::TrafficRecord {
public:
    // Opens `path` for appending, creating it when missing; "-" is standard output. On failure
    // returns nothing and sets `error` to a message naming the file and the reason.
    static std::unique_ptr<RecordFile> open(const QString& path, QString& error);
    ~RecordFile() override;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Where the device path of a COM number comes from (logic::PortInfo::devicePath).
    void setDevicePaths(std::function<QString(std::int16_t)> devicePath);

    void portOpened(std::int16_t port, const QString& settings) override;
    void portClosed(std::int16_t port) override;
    void portLost(std::int16_t port, const QString& reason) override;
    void frameWritten(const QString& text, std::span<const std::uint8_t> written) override;
    void bytesReceived(std::span<const std::uint8_t> bytes) override;
    void errorShown(const QString& message) override;
    QString takeFailure() override;

    bool stopped() const { return m_stopped; }

    // The most that may wait for a slow reader before the record stops.
    static constexpr qsizetype kMaxWaiting = qsizetype{1024} * 1024;

private:
    enum class Kind {
        File,    // a regular file: each line is written whole or not at all
        Stream,  // a pipe, a FIFO, a terminal, a device: written without blocking
        Socket,  // the same through send(), since its descriptor may be shared and blocking
    };
    RecordFile(int fd, bool owned, Kind kind, QString name);
    void record(const char* event, std::int16_t port, QStringView text,
                std::span<const std::uint8_t> bytes = {});
    void writeLine();
    void writeToFile();
    void writeToStream();
    // Writes what waits, as much as the reader takes now.
    void writeWaiting();
    ssize_t writeSome(const char* data, std::size_t size) const;
    void stop(const QString& reason);

    int m_fd = -1;
    bool m_owned = false;
    Kind m_kind = Kind::File;
    QString m_name;
    std::function<QString(std::int16_t)> m_devicePath;
    // The port opened last and its device, until it is closed or lost.
    std::int16_t m_port = 0;
    QString m_device;
    bool m_stopped = false;
    QString m_failure;
    // The line being built; kept to reuse its memory.
    QByteArray m_line;
    // Lines a stream's reader has not taken yet, from m_waitingAt on; the first may have been
    // written in part.
    QByteArray m_waiting;
    qsizetype m_waitingAt = 0;
    // Watches a stream for room while lines wait; made when first needed, once an event loop runs.
    std::unique_ptr<QSocketNotifier> m_room;
};

}  // namespace app

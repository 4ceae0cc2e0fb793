// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The traffic record of --log: one line per event, appended to a file (or written to standard
// output) with a single write(2) before the handler that caused it returns. The file is opened
// with O_APPEND, so a killed program leaves whole lines behind it, and two programs recording
// into one file interleave whole lines.
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
// recorded after that until the program is started again.

#include <QByteArray>
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

private:
    RecordFile(int fd, bool owned, bool regular, QString name);
    void record(const char* event, std::int16_t port, QStringView text,
                std::span<const std::uint8_t> bytes = {});
    void writeLine();
    void stop(const QString& reason);

    int m_fd = -1;
    bool m_owned = false;
    // A regular file takes every byte of a write or none: a short write means the disk is full.
    bool m_regular = false;
    QString m_name;
    std::function<QString(std::int16_t)> m_devicePath;
    // The port opened last and its device, until it is closed or lost.
    std::int16_t m_port = 0;
    QString m_device;
    bool m_stopped = false;
    QString m_failure;
    // The line being built; kept to reuse its memory.
    QByteArray m_line;
};

}  // namespace app

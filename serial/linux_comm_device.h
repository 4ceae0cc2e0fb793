// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// MSComm1 on Linux: the device interface of logic/comm_device.h on a QSerialPort. The interface's
// header holds the contract; this one says only what is Linux's own.
//
// Ports. CommPort is a COM number; every probe and open resolves it to a device path through
// PortNumbering, so an adapter plugged in later is found. The path is followed to the device node
// itself (a /dev/serial/by-id name or any symlink), and the node is what is locked and opened, so
// that every name of one device shares one lock. Before opening, the node's lock file in the
// machine's lock folder is read in every format serial programs write (uucp_lock.h): a live
// holder makes the port busy and its lock is left alone; the lock of a process that is gone is
// removed. The port is then opened raw, read and write, with Qt's lock file (its first line our
// PID, as other programs read it), the line's exclusive flag set, and an flock on the open
// device, which holds against root and against programs that lock only that way. Opening
// discards whatever waited from before. Closing, and destroying the device, releases the lock and
// the flock. Only CommPort, Settings and RThreshold change what the device does: the receive
// buffer is unbounded and Input returns every waiting byte in binary, whatever the other
// properties say.
//
// Receiving. Bytes are taken from the port as Qt reports them and kept until Input takes them;
// at most one receive event is pending at a time. A slow stream is read at most once a frame of
// the window's boxes (kReadPeriodMs, 100 ms): after a read of fewer than kFloodRead bytes, the
// next bytes wait in the kernel until a frame has passed since that read, then everything waiting
// is read at once; bytes after a quiet spell of a frame or more are read as soon as they come, and
// a flood is read as fast as it arrives. No byte is dropped or reordered, and each read raises at
// most one OnComm. takeReceiveEvent() reads at once whatever the pacing has left waiting, in Qt's
// buffer and in the kernel.
//
// Sending. Output writes what the line takes at once, within the call; what it cannot take yet
// waits in Qt's buffer, behind any bytes of earlier Outputs, and goes as soon as the line has
// room. A line that takes no more for now is not a lost line; a write that fails otherwise is.
//
// Losing the port. When an open port's device goes away (an adapter pulled, a pseudo-terminal's
// master closed), Qt reports a read, write or resource error and, until the port is closed,
// reports it again every time the event loop turns: a busy loop. The device closes the port on
// the first such error, after taking every byte Qt had already received, and drains:
//   1. The bytes not yet read stay readable; a receive event is queued for them, whatever their
//      number, as no more can come to reach the threshold.
//   2. Behind it a kComEvPortLost event is queued; when it runs, what was left unread is
//      dropped, PortOpen() reads false and CommEventDescription() names the path. The loss is
//      reported once.
// While draining, PortOpen() reads true so that the receive handler reads the bytes as usual;
// PortOpen(true) throws kPortAlreadyOpen as for an open port, Output throws kPortLost, and
// PortOpen(false) closes the port and cancels both reports.
//
// Errors. Descriptions are in Chinese like the window, name the COM number and the device path
// where there is one, and carry the operating system's reason as it comes; a lock file's reason
// names the file and its holder's PID. A failed open also announces its description through
// openFailed() before it throws, so that the program can log the whole reason where the window
// shows a short message. Qt reports a held lock, an exclusive line and a refused permission
// alike, as PermissionError, with errno meaningless by then; the device tells permission apart by
// asking access() whether this user may read and write the path, and then names the group that
// owns the device. The numbers the device adds to the interface's are below; the texts are in
// linux_comm_device.cpp.

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>
#include <cstdint>

#include "logic/comm_device.h"
#include "logic/port_info.h"
#include "serial/line_settings.h"
#include "serial/port_numbering.h"

namespace serial {

// The device's own error numbers, beside those the window's logic tells apart.
namespace comm_error {
using namespace logic::comm_error;
// A Settings write the open port refused; it keeps its old settings.
inline constexpr int kSettingsNotApplied = 8015;
// This user may not open the device.
inline constexpr int kPermissionDenied = 8100;
// Any other failure to open or set up the port.
inline constexpr int kOpenFailed = 8101;
// Qt refused the bytes of an Output.
inline constexpr int kWriteFailed = 8102;
// An Output while the port drains after a loss, or one that found the port gone.
inline constexpr int kPortLost = 8103;
}  // namespace comm_error

class LinuxCommDevice : public QObject, public logic::CommDevice {
    Q_OBJECT

public:
    explicit LinuxCommDevice(PortNumbering numbering = PortNumbering(), QObject* parent = nullptr);
    ~LinuxCommDevice() override;

    void CommPort(std::int16_t port) override;
    std::int16_t CommPort() override;
    void Settings(const QString& settings) override;
    void PortOpen(bool open) override;
    bool PortOpen() override;
    void OutBufferSize(std::int16_t size) override;
    void InBufferSize(std::int16_t size) override;
    void InputMode(std::int32_t mode) override;
    void InputLen(std::int16_t length) override;
    void InBufferCount(std::int16_t count) override;
    std::int16_t InBufferCount() override;
    void OutBufferCount(std::int16_t count) override;
    void SThreshold(std::int16_t threshold) override;
    void RThreshold(std::int16_t threshold) override;
    void Output(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> Input() override;
    bool takeReceiveEvent() override;
    std::int16_t CommEvent() override;
    QString CommEventDescription() override;

    // A slow stream is read at most once in this many milliseconds (kReadPeriodMs unless set):
    // one frame of the window's boxes while a stream adds little to them, so bytes that wait for
    // it in the kernel reach the screen no later. Tests set a period of their own; 0 reads every
    // byte as soon as it comes, for zeva-relay, which waits on each reply.
    static constexpr int kReadPeriodMs = 100;
    void setReadPeriod(int milliseconds) { m_readPeriodMs = milliseconds; }
    // Raises a receive event from within the read that makes it due, when nothing holds events,
    // rather than through the event loop: per reply, one turn of the loop and three system calls
    // less. Only for a caller whose OnComm handler takes the bytes and returns without running an
    // event loop (zeva-relay), as Qt announces no more bytes until it has returned.
    // takeReceiveEvent() still hands its event to its caller.
    void setRaiseAtOnce(bool atOnce) { m_raiseAtOnce = atOnce; }

    // The path COM`port` resolves to now; empty when there is none. For the window's tooltips.
    QString devicePath(std::int16_t port) const { return m_numbering.resolve(port); }
    // Bytes of earlier Outputs that the line has not taken yet, kept by Qt until it can write
    // them; 0 while the port is not open.
    qint64 bytesToWrite() const { return m_state == State::Open ? m_port.bytesToWrite() : 0; }

    // The description of the last error an operation threw; empty when none has.
    QString lastErrorDescription() const { return m_lastErrorDescription; }
    // Both of the above, for the window; valid as long as the device.
    logic::PortInfo portInfo() const {
        return {[this](std::int16_t port) { return devicePath(port); },
                [this] { return lastErrorDescription(); }};
    }

    // The numbering COM numbers resolve through, for the port follower to pin numbers in.
    PortNumbering& numbering() { return m_numbering; }

Q_SIGNALS:
    // An open failed with `description`, before the error is thrown; for the program's log.
    void openFailed(const QString& description);

private:
    enum class State { Closed, Open, Draining };

    void openPort();
    [[noreturn]] void fail(int number, const QString& description);
    // Throws kInvalidPropertyValue naming `property` unless `valid`.
    void checkValue(bool valid, const char* property, qint64 value);
    [[noreturn]] void failOpen(const QString& path);
    [[noreturn]] void failBusy(const QString& path, const QString& reason);
    // Throws kPortAlreadyOpen while another program's lock on device `node` holds; removes the
    // lock of a process that is gone.
    void checkLock(const QString& path, const QString& node);
    bool applyLineSettings(const LineSettings& settings);
    // Writes what the open line takes now, without waiting; -1 when the line has gone.
    qint64 writeToLine(const char* data, qint64 size);
    void closePort();
    void takeReceivedBytes();
    void readWaitingBytes();
    void setPacedRead(bool paced);
    void onPortError(QSerialPort::SerialPortError error);
    void losePort();
    bool receiveEventDue() const;
    void queueReceiveEvent();
    void deliverReceiveEvent(quint64 session);
    void deliverLossEvent(quint64 session);
    void eventsReleased() override;

    PortNumbering m_numbering;
    QSerialPort m_port;
    State m_state = State::Closed;
    // The number and path of the port that is open or draining.
    std::int16_t m_openPort = 0;
    QString m_openPath;
    // What the loss event will say, and what Output says while the port drains.
    QString m_lossDescription;

    std::int16_t m_commPort = 1;
    LineSettings m_settings;
    std::int16_t m_rThreshold = 1;

    // Received bytes not yet taken by Input.
    QByteArray m_received;
    // Paced reading: while m_pacedRead, Qt's read buffer holds at most one byte, so that Qt stops
    // reading after the first byte of a packet until the device takes it (m_readTimer) a frame
    // after the last read (m_sinceRead).
    bool m_pacedRead = false;
    int m_readPeriodMs = kReadPeriodMs;
    QTimer m_readTimer;
    QElapsedTimer m_sinceRead;
    // Counts opens and closes; a queued event from an earlier session finds a different value
    // and does nothing.
    quint64 m_session = 0;
    bool m_receiveEventPending = false;
    bool m_raiseAtOnce = false;
    // While takeReceiveEvent() reads, the event it finds is its caller's.
    bool m_taking = false;
    // Events that came due while the window held events; raised once the hold ends.
    bool m_receiveEventHeld = false;
    bool m_lossEventHeld = false;
    std::int16_t m_commEvent = 0;
    QString m_eventDescription;
    QString m_lastErrorDescription;
};

}  // namespace serial

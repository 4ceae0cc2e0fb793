#pragma once

// MSComm1 on Linux: the serial device of comm_device.h on a QSerialPort, with the rules of that
// header kept exactly. The window owns one; the port logic reaches it only through CommDevice.
//
// Ports. CommPort is a COM number; every probe and open turns it into a device path through
// PortNumbering (port_numbering.h), so an adapter plugged in later is found. The port is opened
// raw, read and write, with Qt's lock file in the machine's lock folder (the one other Qt and uucp
// style programs honour) and the line's exclusive flag set. Opening applies the remembered
// settings and discards whatever was waiting from before, in both directions. Closing, and
// destroying the device, releases the lock.
//
// Properties. Every property keeps its value while the port is closed and the value counts from
// the next open; a write while open applies at once, except CommPort, which always names the
// port the next open acts on. Before anything is written: CommPort 1, Settings "9600,N,8,1",
// RThreshold 1. Only these three change what the device does. The receive buffer is unbounded
// (a received byte is never dropped for want of room, whatever InBufferSize says), Input returns
// every waiting byte in binary whatever InputLen and InputMode say, and no send event is raised,
// as nothing in this program waits for one; writes of the other properties are checked and
// change nothing.
//
// Receiving. Bytes are taken from the port as Qt reports them and kept in the device's own buffer
// until Input takes them. A slow stream is read at most once a frame of the window's boxes
// (kReadPeriodMs, 100 ms): after a read of fewer than kFloodRead bytes, the next bytes wait in the
// kernel until a frame has passed since that read, then everything waiting is read at once; bytes
// after a quiet spell of a frame or more are read as soon as they come, and a flood is read as
// fast as it arrives. No byte is dropped or reordered, and each read raises at most one OnComm,
// as before. InBufferCount reads how many wait (at most 32767, the largest count the property can
// hold); Input returns all of them. OnComm with CommEvent 2 (kComEvReceive) is raised through the
// event loop, never from inside one of the operations: at most one is pending at a time (bytes
// that arrive while one is pending wait for it), it is raised only while the port is open, only
// with RThreshold at least 1, and only when at least RThreshold bytes wait at the moment it runs.
//
// Sending. Output hands the bytes to Qt in one write and pushes them to the line at once when the
// line can take them, so the frame is on its way before the event loop turns again; otherwise Qt
// sends them as soon as the line is ready.
//
// Losing the port. When an open port's device goes away (an adapter pulled, a pseudo-terminal's
// master closed), Qt reports a read, write or resource error and, until the port is closed,
// reports it again every time the event loop turns: a busy loop. The device closes the port on
// the first such error, after taking every byte Qt had already received, and the port enters a
// draining state:
//   1. Bytes that were received but not yet read stay readable. If any wait and RThreshold is at
//      least 1, an OnComm with CommEvent 2 is queued for them, whatever their number (no more
//      bytes can come to reach the threshold), unless one is already pending.
//   2. Behind it an OnComm with kComEvPortLost is queued. When it runs, the device drops what
//      was left unread, PortOpen() reads false from then on, and CommEventDescription() names the
//      path. The loss is reported exactly once.
// While draining, PortOpen() still reads true so that the receive handler can count and read the
// bytes as usual; Output throws kPortLost, settings are remembered, and PortOpen(true) throws
// kPortAlreadyOpen as for an open port. PortOpen(false) while draining closes the port as the
// program asked and cancels both pending reports: the program has closed the port itself.
//
// Held events. While the window holds events, an event that comes due is kept back, and queued
// again, in the order the events came up, when the hold ends.
//
// Errors. Every failing operation throws CommError with one of the numbers below and a
// description for the operator, in Chinese like the window, that names the COM number and the
// device path where there is one and carries the operating system's reason as it comes:
//
// 380 kInvalidPropertyValue, thrown when written; the remembered value stays as it was.
//   A Settings text that is not "baud,parity,data,stop" with valid values (line_settings.h),
//   quoted in full:
//     无效的串口设置“<text>”：应为“波特率,校验位,数据位,停止位”，例如“9600,N,8,1”；…
//   A negative threshold or InputLen, a buffer size below 1, an InputMode other than 0 and 1:
//     属性 <name> 的值 <value> 无效。
// 8002 kPortNotFound
//   The number resolves to no path:
//     串口 COM<n> 不存在：本机没有与它对应的串口设备。
//   The path does not exist (or the kernel says there is no such device):
//     串口 COM<n> 不存在：设备 <path> 不存在。
//     串口 COM<n> 不存在：设备 <path> 不存在（<reason>）。
// 8005 kPortAlreadyOpen
//   Open already through this device:
//     串口 COM<n>（<path>）已经打开。
//   Held by another program, through Qt's lock file or the line's exclusive flag:
//     串口 COM<n>（<path>）已被其他程序占用：<reason>。
// 8015 kSettingsNotApplied, a Settings write the open port refused; it keeps its old settings:
//     无法把串口设置“<text>”应用到 <path>：<reason>。
// 8018 kPortNotOpen, Output or Input on a closed port:
//     串口 COM<n> 未打开。
// 8100 kPermissionDenied, this user may not open the device. The group is read from the device
//   file (serial ports usually belong to dialout):
//     没有权限打开串口 COM<n>（<path>）：<reason>。请把当前用户加入拥有该设备的用户组
//     “<group>”（串口设备通常属于 dialout 组），例如执行 sudo usermod -aG <group> 用户名，
//     然后重新登录。
// 8101 kOpenFailed, any other failure to open or set up the port, such as a path that is not a
//   terminal or a speed the driver refuses:
//     无法打开串口 COM<n>（<path>）：<reason>。
// 8102 kWriteFailed, Qt refused the bytes of an Output:
//     向串口 <path> 写入数据失败：<reason>。
// 8103 kPortLost, an Output while the port drains after a loss, or one whose push to the line
//   found the port gone. The same text is the loss event's CommEventDescription():
//     串口 <path> 已断开（设备被拔出或对方挂断），端口已关闭。
//
// Qt reports a held lock, an exclusive line and a refused permission alike, as PermissionError,
// and errno means nothing by then; the device tells permission apart by asking access() whether
// this user may read and write the path.

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
inline constexpr int kSettingsNotApplied = 8015;
inline constexpr int kPermissionDenied = 8100;
inline constexpr int kOpenFailed = 8101;
inline constexpr int kWriteFailed = 8102;
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
    std::int16_t CommEvent() override;
    QString CommEventDescription() override;

    // The path COM`port` resolves to now; empty when there is none. For the window's tooltips.
    QString devicePath(std::int16_t port) const { return m_numbering.resolve(port); }
    // The description of the last error an operation threw; empty when none has.
    QString lastErrorDescription() const { return m_lastErrorDescription; }
    // Both of the above, for the window; valid as long as the device.
    logic::PortInfo portInfo() const {
        return {[this](std::int16_t port) { return devicePath(port); },
                [this] { return lastErrorDescription(); }};
    }

private:
    enum class State { Closed, Open, Draining };

    [[noreturn]] void fail(int number, const QString& description);
    // Throws kInvalidPropertyValue naming `property` unless `valid`.
    void checkValue(bool valid, const char* property, qint64 value);
    [[noreturn]] void failOpen(const QString& path);
    bool applyLineSettings(const LineSettings& settings);
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
    QTimer m_readTimer;
    QElapsedTimer m_sinceRead;
    // Counts opens and closes; a queued event from an earlier session finds a different value
    // and does nothing.
    quint64 m_session = 0;
    bool m_receiveEventPending = false;
    // Events that came due while the window held events; raised once the hold ends.
    bool m_receiveEventHeld = false;
    bool m_lossEventHeld = false;
    std::int16_t m_commEvent = 0;
    QString m_eventDescription;
    QString m_lastErrorDescription;
};

}  // namespace serial

// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/linux_comm_device.h"

#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QScopedValueRollback>
#include <algorithm>
#include <cerrno>

#include "serial/port_report.h"
#include "serial/uucp_lock.h"

namespace serial {

namespace {

// The largest count InBufferCount can report.
constexpr qsizetype kMaxCount = 32767;
// A read of at least this many bytes is a flood: the next one follows as soon as bytes come. A
// line of 115,200 baud delivers about 460 bytes in a frame, and the kernel's buffer holds 4 KiB.
constexpr qsizetype kFloodRead = 1024;

QString comLabel(std::int16_t port) {
    return QStringLiteral("COM%1").arg(port);
}

// True when a read of `fd` would not block: bytes wait, or the line has hung up, which the read
// then reports.
bool lineReadable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, 0) > 0;
}

// What stands at a lock path instead of a lock file.
QString fileType(mode_t type) {
    switch (type) {
        case S_IFIFO:
            return QStringLiteral("一个命名管道（FIFO）");
        case S_IFLNK:
            return QStringLiteral("一个符号链接");
        case S_IFDIR:
            return QStringLiteral("一个目录");
        case S_IFCHR:
        case S_IFBLK:
            return QStringLiteral("一个设备文件");
        case S_IFSOCK:
            return QStringLiteral("一个套接字");
        default:
            return QStringLiteral("一个特殊文件");
    }
}

}  // namespace

LinuxCommDevice::LinuxCommDevice(PortNumbering numbering, QObject* parent)
    : QObject(parent), m_numbering(std::move(numbering)) {
    connect(&m_port, &QSerialPort::readyRead, this, &LinuxCommDevice::takeReceivedBytes);
    connect(&m_port, &QSerialPort::errorOccurred, this, &LinuxCommDevice::onPortError);
    m_readTimer.setSingleShot(true);
    m_readTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_readTimer, &QTimer::timeout, this, &LinuxCommDevice::readWaitingBytes);
}

LinuxCommDevice::~LinuxCommDevice() {
    // The port is a member and outlives this body: nothing it does while closing may reach a
    // half-destroyed device.
    m_port.disconnect(this);
    if (m_port.isOpen()) {
        m_port.close();
    }
}

void LinuxCommDevice::fail(int number, const QString& description) {
    m_lastErrorDescription = description;
    throw logic::CommError(number, description);
}

void LinuxCommDevice::checkValue(bool valid, const char* property, qint64 value) {
    if (!valid) {
        fail(
            comm_error::kInvalidPropertyValue,
            QStringLiteral("属性 %1 的值 %2 无效。").arg(QString::fromLatin1(property)).arg(value));
    }
}

void LinuxCommDevice::CommPort(std::int16_t port) {
    m_commPort = port;
}

std::int16_t LinuxCommDevice::CommPort() {
    return m_commPort;
}

void LinuxCommDevice::Settings(const QString& settings) {
    const std::optional<LineSettings> parsed = parseLineSettings(settings);
    if (!parsed) {
        fail(comm_error::kInvalidPropertyValue,
             QStringLiteral(
                 "无效的串口设置“%1”：应为“波特率,校验位,数据位,停止位”，例如“9600,N,8,1”；"
                 "校验位为 N、E、O、M 或 S，数据位为 5 到 8，停止位为 1、"
                 "1.5（仅用于 5 位数据位）或 2（仅用于 6 到 8 位数据位）。")
                 .arg(settings));
    }
    if (m_state == State::Open && !applyLineSettings(*parsed)) {
        const QString reason = m_port.errorString();
        applyLineSettings(m_settings);
        fail(comm_error::kSettingsNotApplied,
             QStringLiteral("无法把串口设置“%1”应用到 %2：%3。").arg(settings, m_openPath, reason));
    }
    m_settings = *parsed;
}

bool LinuxCommDevice::applyLineSettings(const LineSettings& settings) {
    // Qt offers 1.5 stop bits on Windows only. A UART sends 1.5 stop bits where it would send two
    // when the characters have 5 data bits, the only size 1.5 is accepted with, so ask for two.
    const QSerialPort::StopBits stopBits =
        settings.stopBits == QSerialPort::OneAndHalfStop ? QSerialPort::TwoStop : settings.stopBits;
    return m_port.setBaudRate(settings.baudRate) && m_port.setDataBits(settings.dataBits) &&
           m_port.setParity(settings.parity) && m_port.setStopBits(stopBits) &&
           m_port.setFlowControl(QSerialPort::NoFlowControl);
}

void LinuxCommDevice::PortOpen(bool open) {
    if (!open) {
        closePort();
        return;
    }
    try {
        openPort();
    } catch (const logic::CommError& error) {
        Q_EMIT openFailed(error.description());
        throw;
    }
}

void LinuxCommDevice::openPort() {
    if (m_state != State::Closed) {
        fail(comm_error::kPortAlreadyOpen,
             QStringLiteral("串口 %1（%2）已经打开。").arg(comLabel(m_openPort), m_openPath));
    }
    const QString path = m_numbering.resolve(m_commPort);
    if (path.isEmpty()) {
        fail(comm_error::kPortNotFound,
             QStringLiteral("串口 %1 不存在：本机没有与它对应的串口设备。")
                 .arg(comLabel(m_commPort)));
    }
    if (!QFileInfo::exists(path)) {
        fail(comm_error::kPortNotFound,
             QStringLiteral("串口 %1 不存在：设备 %2 不存在。").arg(comLabel(m_commPort), path));
    }
    // Every name of one device (a by-id link, a symlink, the node itself) shares the lock of the
    // node, which Qt then takes as well, so other programs see it under the name they use.
    const QString node = QFileInfo(path).canonicalFilePath();
    checkLock(path, node);
    m_port.setPortName(node);
    // On a closed port Qt only remembers the settings; its open applies them.
    applyLineSettings(m_settings);
    if (!m_port.open(QIODevice::ReadWrite)) {
        failOpen(path);
    }
    // Root passes the line's exclusive flag, and some terminal programs lock only with flock.
    if (::flock(m_port.handle(), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        m_port.close();
        if (error == EWOULDBLOCK) {
            failBusy(path, QStringLiteral("另一个程序用 flock 锁住了设备 %1").arg(node));
        }
        fail(comm_error::kOpenFailed, QStringLiteral("无法打开串口 %1（%2）：%3。")
                                          .arg(comLabel(m_commPort), path, qt_error_string(error)));
    }
    if (!m_port.clear(QSerialPort::AllDirections)) {
        const QString reason = m_port.errorString();
        m_port.close();
        fail(comm_error::kOpenFailed,
             QStringLiteral("无法打开串口 %1（%2）：%3。").arg(comLabel(m_commPort), path, reason));
    }
    m_received.clear();
    setPacedRead(false);
    m_sinceRead.invalidate();
    m_openPort = m_commPort;
    m_openPath = path;
    m_state = State::Open;
}

void LinuxCommDevice::failBusy(const QString& path, const QString& reason) {
    fail(comm_error::kPortAlreadyOpen, QStringLiteral("串口 %1（%2）已被其他程序占用：%3。")
                                           .arg(comLabel(m_commPort), path, reason));
}

void LinuxCommDevice::checkLock(const QString& path, const QString& node) {
    const QString file = uucp_lock::lockFilePath(node);
    if (file.isEmpty()) {
        return;
    }
    const uucp_lock::Lock lock = uucp_lock::readLock(file);
    switch (lock.state) {
        case uucp_lock::Lock::State::Free:
            return;
        case uucp_lock::Lock::State::Stale: {
            QFile stale(file);
            if (stale.remove() || !stale.exists()) {
                return;
            }
            failBusy(path, QStringLiteral("进程 %1 已经结束，但它留下的锁文件 %2 无法删除（%3）")
                               .arg(lock.pid)
                               .arg(file, stale.errorString()));
        }
        case uucp_lock::Lock::State::Held: {
            const QString name = uucp_lock::processName(lock.pid);
            failBusy(path, QStringLiteral("锁文件 %1 属于正在运行的进程 %2%3")
                               .arg(file)
                               .arg(lock.pid)
                               .arg(name.isEmpty() ? QString() : u"（" + name + u"）"));
        }
        case uucp_lock::Lock::State::NamesNoOne:
            failBusy(
                path,
                lock.readError.isEmpty()
                    ? QStringLiteral("锁文件 %1 中没有有效的进程号；若确认没有程序在使用该串口，"
                                     "可删除此文件")
                          .arg(file)
                    : QStringLiteral("无法读取锁文件 %1（%2）").arg(file, lock.readError));
        case uucp_lock::Lock::State::NotAFile:
            failBusy(path, QStringLiteral("锁文件的位置 %1 上是%2，而不是锁文件；若确认没有程序在"
                                          "使用该串口，可删除它")
                               .arg(file, fileType(lock.type)));
    }
}

void LinuxCommDevice::failOpen(const QString& path) {
    const QString port = comLabel(m_commPort);
    const QString reason = m_port.errorString();
    switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            fail(comm_error::kPortNotFound,
                 QStringLiteral("串口 %1 不存在：设备 %2 不存在（%3）。").arg(port, path, reason));
        case QSerialPort::PermissionError:
            if (permissionDenied(path)) {
                fail(comm_error::kPermissionDenied,
                     QStringLiteral(
                         "没有权限打开串口 %1（%2）：%3。请把当前用户加入拥有该设备的用户组"
                         "“%4”（串口设备通常属于 dialout 组），例如执行 "
                         "sudo usermod -aG %4 用户名，然后重新登录。")
                         .arg(port, path, qt_error_string(EACCES), owningGroup(path)));
            }
            fail(comm_error::kPortAlreadyOpen,
                 QStringLiteral("串口 %1（%2）已被其他程序占用：%3。").arg(port, path, reason));
        default:
            fail(comm_error::kOpenFailed,
                 QStringLiteral("无法打开串口 %1（%2）：%3。").arg(port, path, reason));
    }
}

bool LinuxCommDevice::PortOpen() {
    return m_state != State::Closed;
}

void LinuxCommDevice::closePort() {
    if (m_state == State::Closed) {
        return;
    }
    if (m_port.isOpen()) {
        m_port.close();
    }
    m_state = State::Closed;
    m_received.clear();
    setPacedRead(false);
    m_readTimer.stop();
    m_receiveEventPending = false;
    m_receiveEventHeld = false;
    m_lossEventHeld = false;
    ++m_session;
    m_openPort = 0;
    m_openPath.clear();
}

void LinuxCommDevice::OutBufferSize(std::int16_t size) {
    checkValue(size >= 1, "OutBufferSize", size);
}

void LinuxCommDevice::InBufferSize(std::int16_t size) {
    checkValue(size >= 1, "InBufferSize", size);
}

void LinuxCommDevice::InputMode(std::int32_t mode) {
    checkValue(mode == logic::kInputModeText || mode == logic::kInputModeBinary, "InputMode", mode);
}

void LinuxCommDevice::InputLen(std::int16_t length) {
    checkValue(length >= 0, "InputLen", length);
}

void LinuxCommDevice::InBufferCount(std::int16_t count) {
    if (count != 0 || m_state == State::Closed) {
        return;
    }
    m_received.clear();
    if (m_state == State::Open) {
        m_port.clear(QSerialPort::Input);
    }
}

std::int16_t LinuxCommDevice::InBufferCount() {
    if (m_state == State::Closed) {
        return 0;
    }
    if (m_state == State::Open) {
        m_received.append(m_port.readAll());
    }
    return static_cast<std::int16_t>(std::min(m_received.size(), kMaxCount));
}

void LinuxCommDevice::OutBufferCount(std::int16_t count) {
    if (count == 0 && m_state == State::Open) {
        m_port.clear(QSerialPort::Output);
    }
}

void LinuxCommDevice::SThreshold(std::int16_t threshold) {
    checkValue(threshold >= 0, "SThreshold", threshold);
}

void LinuxCommDevice::RThreshold(std::int16_t threshold) {
    checkValue(threshold >= 0, "RThreshold", threshold);
    m_rThreshold = threshold;
    queueReceiveEvent();
}

void LinuxCommDevice::Output(std::span<const std::uint8_t> bytes) {
    if (m_state == State::Closed) {
        fail(comm_error::kPortNotOpen,
             QStringLiteral("串口 %1 未打开。").arg(comLabel(m_commPort)));
    }
    if (m_state == State::Draining) {
        fail(comm_error::kPortLost, m_lossDescription);
    }
    if (bytes.empty()) {
        return;
    }
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    auto size = static_cast<qint64>(bytes.size());
    // The line takes what it has room for at once, unless bytes of an earlier Output still wait
    // in Qt's buffer, ahead of these. The rest waits there and Qt writes it as soon as the line
    // has room: a line that takes no more for now is not a line gone.
    if (m_port.bytesToWrite() == 0) {
        const qint64 written = writeToLine(data, size);
        if (written < 0) {
            losePort();
            fail(comm_error::kPortLost, m_lossDescription);
        }
        data += written;
        size -= written;
    }
    if (size > 0 && m_port.write(data, size) != size) {
        fail(comm_error::kWriteFailed,
             QStringLiteral("向串口 %1 写入数据失败：%2。").arg(m_openPath, m_port.errorString()));
    }
}

qint64 LinuxCommDevice::writeToLine(const char* data, qint64 size) {
    // The port is open non-blocking: a full line takes part or nothing (EAGAIN), any other error
    // is a line that has gone (EIO after a hang-up), as Qt's own write would report it.
    qint64 written = 0;
    while (written < size) {
        const ssize_t result =
            ::write(m_port.handle(), data + written, static_cast<std::size_t>(size - written));
        if (result >= 0) {
            written += result;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            return -1;
        }
    }
    return written;
}

std::vector<std::uint8_t> LinuxCommDevice::Input() {
    if (m_state == State::Closed) {
        fail(comm_error::kPortNotOpen,
             QStringLiteral("串口 %1 未打开。").arg(comLabel(m_commPort)));
    }
    if (m_state == State::Open) {
        m_received.append(m_port.readAll());
    }
    const QByteArray bytes = std::exchange(m_received, QByteArray());
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    return std::vector<std::uint8_t>(data, data + bytes.size());
}

bool LinuxCommDevice::takeReceiveEvent() {
    // Only a read that finds bytes counts as one: with nothing waiting, the reply to the action
    // that follows is still read as soon as it comes.
    if (m_state == State::Open && (m_port.bytesAvailable() > 0 || lineReadable(m_port.handle()))) {
        m_readTimer.stop();
        const QScopedValueRollback taking(m_taking, true);
        readWaitingBytes();
    }
    if (!receiveEventDue()) {
        return false;
    }
    m_commEvent = logic::kComEvReceive;
    return true;
}

std::int16_t LinuxCommDevice::CommEvent() {
    return m_commEvent;
}

QString LinuxCommDevice::CommEventDescription() {
    return m_eventDescription;
}

void LinuxCommDevice::takeReceivedBytes() {
    if (m_pacedRead) {
        // Qt has read the first byte of a packet and reads no more until it is taken: the rest
        // waits in the kernel until a frame has passed since the last read.
        if (!m_readTimer.isActive()) {
            const qint64 since = m_sinceRead.isValid() ? m_sinceRead.elapsed() : m_readPeriodMs;
            m_readTimer.start(static_cast<int>(std::max<qint64>(m_readPeriodMs - since, 0)));
        }
        return;
    }
    const QByteArray bytes = m_port.readAll();
    m_received.append(bytes);
    m_sinceRead.start();
    setPacedRead(m_state == State::Open && m_readPeriodMs > 0 && bytes.size() < kFloodRead);
    if (m_raiseAtOnce && !m_taking && !m_receiveEventPending && !eventsHeld() &&
        receiveEventDue()) {
        m_commEvent = logic::kComEvReceive;
        raiseOnComm();
        return;
    }
    queueReceiveEvent();
}

// Reads what waits, in Qt's buffer and in the kernel, in this turn of the event loop: through
// Qt's own read, which reports it (readyRead, or an error for a line that hung up) before it
// returns.
void LinuxCommDevice::readWaitingBytes() {
    if (m_state != State::Open) {
        return;
    }
    setPacedRead(false);
    if (lineReadable(m_port.handle())) {
        m_port.waitForReadyRead(0);
    } else {
        takeReceivedBytes();
    }
}

void LinuxCommDevice::setPacedRead(bool paced) {
    if (m_pacedRead != paced) {
        m_pacedRead = paced;
        m_port.setReadBufferSize(paced ? 1 : 0);
    }
}

void LinuxCommDevice::onPortError(QSerialPort::SerialPortError error) {
    // Errors of an open or a settings write are the operation's to report.
    const bool lineError = error == QSerialPort::ReadError || error == QSerialPort::WriteError ||
                           error == QSerialPort::ResourceError;
    if (m_state == State::Open && lineError) {
        losePort();
    }
}

void LinuxCommDevice::losePort() {
    m_received.append(m_port.readAll());
    m_lossDescription =
        QStringLiteral("串口 %1 已断开（设备被拔出或对方挂断），端口已关闭。").arg(m_openPath);
    // Closing from inside Qt's error report is how Qt's own examples handle a vanished port; it
    // stops the notifiers before the event loop can turn again.
    m_port.close();
    m_readTimer.stop();
    setPacedRead(false);
    m_state = State::Draining;
    queueReceiveEvent();
    QMetaObject::invokeMethod(
        this, [this, session = m_session] { deliverLossEvent(session); }, Qt::QueuedConnection);
}

bool LinuxCommDevice::receiveEventDue() const {
    if (m_rThreshold < 1) {
        return false;
    }
    switch (m_state) {
        case State::Open:
            return m_received.size() >= m_rThreshold;
        case State::Draining:
            return !m_received.isEmpty();
        case State::Closed:
            break;
    }
    return false;
}

void LinuxCommDevice::queueReceiveEvent() {
    if (m_receiveEventPending || !receiveEventDue()) {
        return;
    }
    m_receiveEventPending = true;
    QMetaObject::invokeMethod(
        this, [this, session = m_session] { deliverReceiveEvent(session); }, Qt::QueuedConnection);
}

void LinuxCommDevice::deliverReceiveEvent(quint64 session) {
    if (session != m_session) {
        return;
    }
    if (eventsHeld()) {
        m_receiveEventHeld = true;
        return;
    }
    m_receiveEventPending = false;
    if (!receiveEventDue()) {
        return;
    }
    m_commEvent = logic::kComEvReceive;
    raiseOnComm();
}

void LinuxCommDevice::deliverLossEvent(quint64 session) {
    if (session != m_session) {
        return;
    }
    if (eventsHeld()) {
        m_lossEventHeld = true;
        return;
    }
    closePort();
    m_commEvent = logic::kComEvPortLost;
    m_eventDescription = m_lossDescription;
    raiseOnComm();
}

void LinuxCommDevice::eventsReleased() {
    // Queued again in the order they came up: the bytes before the loss.
    if (std::exchange(m_receiveEventHeld, false)) {
        QMetaObject::invokeMethod(
            this, [this, session = m_session] { deliverReceiveEvent(session); },
            Qt::QueuedConnection);
    }
    if (std::exchange(m_lossEventHeld, false)) {
        QMetaObject::invokeMethod(
            this, [this, session = m_session] { deliverLossEvent(session); }, Qt::QueuedConnection);
    }
}

}  // namespace serial

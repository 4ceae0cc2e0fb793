// SPDX-License-Identifier: GPL-3.0-or-later
#include "relay/runner.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "codec/hex_codec.h"
#include "logic/comm_error.h"
#include "relay/port_table.h"
#include "serial/port_report.h"

namespace relay {

namespace {

constexpr int kLastListedPort = 4;
const QString kLostReason =
    QStringLiteral("the port went away (the adapter was pulled out or the line hung up)");
// The progress line is drawn again at most this often.
constexpr qint64 kProgressPeriodMs = 250;
const QString kSettings = QStringLiteral("9600,N,8,1");

QString hexText(std::span<const std::uint8_t> bytes) {
    const std::u16string text = codec::canonicalCommandText(bytes);
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::span<const std::uint8_t> asBytes(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QString durationText(qint64 ms) {
    if (ms < 1000) {
        return QStringLiteral("%1ms").arg(ms);
    }
    return QStringLiteral("%1s").arg(static_cast<double>(ms) / 1000.0, 0, 'f', 3);
}

// "1 h 02 min", "3 min 05 s", "42 s".
QString timeLeftText(qint64 seconds) {
    if (seconds >= 3600) {
        return QStringLiteral("%1 h %2 min")
            .arg(seconds / 3600)
            .arg(seconds % 3600 / 60, 2, 10, QLatin1Char('0'));
    }
    if (seconds >= 60) {
        return QStringLiteral("%1 min %2 s")
            .arg(seconds / 60)
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1 s").arg(seconds);
}

// Why the port `path` could not be opened, in words for a script's log: the device's error
// tells the kind, the port's report names the holder or the group.
QString openFailure(const QString& portName, const QString& path, const logic::CommError& error) {
    namespace ce = serial::comm_error;
    if (error.number() == ce::kPortNotFound) {
        return path.isEmpty()
                   ? QStringLiteral("%1 has no device; 'zeva-relay list' shows the ports")
                         .arg(portName)
                   : QStringLiteral("%1 does not exist").arg(path);
    }
    if (error.number() == ce::kPortAlreadyOpen) {
        const serial::PortReport report =
            serial::reportPort(path, QSerialPortInfo::availablePorts());
        const QString holder = holderText(report);
        return holder.isEmpty() ? QStringLiteral("%1 is busy: %2").arg(path, error.description())
                                : QStringLiteral("%1 is busy: held by %2").arg(path, holder);
    }
    if (error.number() == ce::kPermissionDenied) {
        return QStringLiteral(
                   "no permission to open %1: join group %2 (sudo usermod -aG %2 "
                   "\"$USER\", then log in again)")
            .arg(path, serial::owningGroup(path));
    }
    return QStringLiteral("cannot open %1: %2")
        .arg(path.isEmpty() ? portName : path, error.description());
}

}  // namespace

PortChoice choosePort(const QString& port, bool numbered) {
    if (port.startsWith(QLatin1String("COM"))) {
        return {static_cast<std::int16_t>(port.mid(3).toInt()), serial::PortNumbering()};
    }
    if (!numbered) {
        return {1, serial::PortNumbering({{1, port}})};
    }
    const QStringList machine =
        serial::PortNumbering::comOrder(serial::PortNumbering::systemPorts());
    const QString node = QFileInfo(port).canonicalFilePath();
    for (qsizetype i = 0; i < machine.size(); ++i) {
        if (!node.isEmpty() && QFileInfo(machine[i]).canonicalFilePath() == node) {
            const auto number = static_cast<std::int16_t>(i + 1);
            return {number, serial::PortNumbering({{number, port}})};
        }
    }
    const auto number =
        static_cast<std::int16_t>(std::max<qsizetype>(kLastListedPort, machine.size()) + 1);
    return {number, serial::PortNumbering({{number, port}})};
}

Runner::Runner(const Script& script, serial::LinuxCommDevice& device, std::int16_t port,
               QString portName, logic::TrafficRecord& record)
    : m_script(script),
      m_device(device),
      m_port(port),
      m_portName(std::move(portName)),
      m_record(record) {
    m_device.setOnComm([this] { onComm(); });
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
}

void Runner::setOutput(std::FILE* out, std::FILE* err, bool progress) {
    m_out = out;
    m_err = err;
    m_progress = progress;
    m_outOnTerminal = ::isatty(::fileno(out)) == 1;
}

int Runner::run() {
    m_clock.start();
    if (!open()) {
        return kExitPortFailed;
    }
    bool failed = false;
    for (std::int64_t cycle = 0;
         !failed && m_stopStatus == 0 && (m_script.repeat == 0 || cycle < m_script.repeat);
         ++cycle) {
        for (const Action& action : m_script.actions) {
            if (!perform(action, true)) {
                failed = true;
                break;
            }
            if (m_stopStatus != 0) {
                break;
            }
        }
        if (!failed && m_stopStatus == 0) {
            ++m_cycles;
        }
        showProgress();
    }
    if (failed || m_stopStatus != 0) {
        for (const Action& action : m_script.atExit) {
            perform(action, false);
        }
    }
    clearProgress();
    if (m_device.PortOpen()) {
        m_device.PortOpen(false);
        m_record.portClosed(m_port);
    }
    if (!m_script.quiet) {
        say(QStringLiteral("%1 cycle(s), %2 frame(s), %3 failure(s), %4")
                .arg(m_cycles)
                .arg(m_frames)
                .arg(m_failures)
                .arg(durationText(m_clock.elapsed())));
    }
    // A signal that comes while --at-exit runs after a failure does not hide the failure.
    if (failed) {
        return kExitFrameFailed;
    }
    return m_stopStatus;
}

void Runner::stop(int status) {
    if (m_stopStatus == 0) {
        m_stopStatus = status;
    }
}

bool Runner::open() {
    m_device.CommPort(m_port);
    // Each reply is read as it comes, and handed over from within the read: the run waits on it.
    m_device.setReadPeriod(0);
    m_device.setRaiseAtOnce(true);
    try {
        m_device.Settings(kSettings);
        m_device.PortOpen(true);
    } catch (const logic::CommError& error) {
        say(openFailure(m_portName, m_device.devicePath(m_port), error));
        return false;
    }
    m_record.portOpened(m_port, kSettings);
    return true;
}

bool Runner::perform(const Action& action, bool stoppable) {
    switch (action.kind) {
        case Action::Kind::Frame:
            return sendFrame(action.written, action.text, action.bytes);
        case Action::Kind::Wait:
            pause(action.duration, stoppable);
            return true;
        case Action::Kind::Pulse:
            if (!sendFrame(action.written, action.text, action.bytes)) {
                return false;
            }
            // A stop cuts the pulse short, but the relay it switched on goes off first.
            pause(action.duration, stoppable);
            return sendFrame(action.written, action.offText, action.offBytes);
    }
    return true;
}

bool Runner::sendFrame(const QString& written, const QString& text,
                       const std::vector<std::uint8_t>& bytes) {
    const qint64 at = m_clock.elapsed();
    const auto fail = [&](const QString& result, const QString& why) {
        ++m_failures;
        printLine(at, written, bytes, result);
        say(QStringLiteral("frame %1, %2, on %3: %4")
                .arg(m_frames)
                .arg(frameName(written, bytes), m_portName, why));
        return false;
    };
    ++m_frames;
    if (m_lost) {
        m_record.frameWritten(text, {});
        return fail(QStringLiteral("port lost"), kLostReason);
    }
    try {
        m_device.Output(bytes);
    } catch (const logic::CommError& error) {
        m_record.frameWritten(text, {});
        if (error.number() == serial::comm_error::kPortLost) {
            return fail(QStringLiteral("port lost"), kLostReason);
        }
        return fail(u"not sent: " + error.description(), error.description());
    }
    m_record.frameWritten(text, bytes);
    if (m_script.expect == Expect::None) {
        // Sent means handed to the system: a line slower than the run is waited for, so that an
        // endless run keeps its pace rather than piling frames up in memory.
        waitUntil(
            at + m_script.timeout.count(), [this] { return m_device.bytesToWrite() == 0; }, false);
        if (m_lost) {
            return fail(QStringLiteral("port lost"), kLostReason);
        }
        if (m_device.bytesToWrite() > 0) {
            return fail(QStringLiteral("not sent: the line took no more bytes"),
                        QStringLiteral("the line took no more bytes within %1")
                            .arg(durationText(m_script.timeout.count())));
        }
        // The bytes the board sends meanwhile, a loss and a stop signal are taken between frames.
        QCoreApplication::processEvents();
        printLine(at, written, bytes, QStringLiteral("sent"));
        return !m_outputFailed;
    }
    const QByteArray expected(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<qsizetype>(bytes.size()));
    const auto answered = [&] {
        // Whole, or already wrong.
        const qsizetype compared = std::min(m_reply.size(), expected.size());
        return m_reply.size() >= expected.size() ||
               m_reply.first(compared) != expected.first(compared);
    };
    waitUntil(at + m_script.timeout.count(), answered, false);
    if (m_reply.startsWith(expected)) {
        m_reply.remove(0, expected.size());
        printLine(at, written, bytes, QStringLiteral("echoed"));
        return !m_outputFailed;
    }
    if (m_reply.isEmpty()) {
        if (m_lost) {
            return fail(QStringLiteral("port lost"), kLostReason);
        }
        return fail(
            QStringLiteral("no reply"),
            QStringLiteral("no reply within %1").arg(durationText(m_script.timeout.count())));
    }
    const QString received = hexText(asBytes(m_reply));
    m_reply.clear();
    return fail(u"wrong reply: " + received, u"the board answered " + received);
}

void Runner::pause(Duration duration, bool stoppable) {
    waitUntil(
        m_clock.elapsed() + duration.count(), [] { return false; }, stoppable);
}

void Runner::waitUntil(qint64 deadline, const std::function<bool()>& done, bool stoppable) {
    // The loop turns once per event: a receive event, the deadline's timer, a stop signal.
    while (!done() && !m_lost && !(stoppable && m_stopStatus != 0)) {
        const qint64 left = deadline - m_clock.elapsed();
        if (left <= 0) {
            break;
        }
        m_deadline.start(static_cast<int>(left));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    m_deadline.stop();
}

void Runner::onComm() {
    const std::int16_t event = m_device.CommEvent();
    if (event == logic::kComEvPortLost) {
        m_lost = true;
        m_record.portLost(m_port, m_device.CommEventDescription());
    } else if (event == logic::kComEvReceive) {
        try {
            const std::vector<std::uint8_t> bytes = m_device.Input();
            m_record.bytesReceived(bytes);
            if (m_script.expect == Expect::Echo) {
                m_reply.append(reinterpret_cast<const char*>(bytes.data()),
                               static_cast<qsizetype>(bytes.size()));
            }
        } catch (const logic::CommError& error) {
            say(error.description());
        }
    }
}

QString Runner::frameName(const QString& written, const std::vector<std::uint8_t>& bytes) const {
    return QStringLiteral("'%1' (%2)").arg(written, hexText(bytes));
}

void Runner::printLine(qint64 at, const QString& written, const std::vector<std::uint8_t>& bytes,
                       const QString& result) {
    if (m_outputFailed) {
        return;
    }
    // Lines to a file leave the progress line standing; on the terminal they go above it.
    if (m_outOnTerminal) {
        clearProgress();
    }
    const QByteArray line = QStringLiteral("%1\t%2\t%3\t%4\t%5\n")
                                .arg(at)
                                .arg(m_portName, written, hexText(bytes), result)
                                .toUtf8();
    if (std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), m_out) !=
            static_cast<std::size_t>(line.size()) ||
        std::fflush(m_out) != 0) {
        m_outputFailed = true;
        const int error = errno;
        say(QStringLiteral("cannot write to standard output: %1")
                .arg(QString::fromLocal8Bit(std::strerror(error))));
    }
}

void Runner::say(const QString& message) {
    clearProgress();
    std::fprintf(m_err, "zeva-relay: %s\n", message.toLocal8Bit().constData());
    std::fflush(m_err);
}

void Runner::showProgress() {
    if (!m_progress || m_script.quiet || m_script.repeat == 1) {
        return;
    }
    const qint64 now = m_clock.elapsed();
    if (m_lastProgress >= 0 && now - m_lastProgress < kProgressPeriodMs) {
        return;
    }
    m_lastProgress = now;
    const double rate =
        now > 0 ? static_cast<double>(m_cycles) * 1000.0 / static_cast<double>(now) : 0.0;
    QString text = m_script.repeat == 0
                       ? QStringLiteral("cycle %1").arg(m_cycles)
                       : QStringLiteral("cycle %1 of %2").arg(m_cycles).arg(m_script.repeat);
    text += QStringLiteral(", %1 failure(s), %2 cycles/s").arg(m_failures).arg(rate, 0, 'f', 1);
    if (m_script.repeat != 0 && rate > 0) {
        const auto left =
            static_cast<qint64>(static_cast<double>(m_script.repeat - m_cycles) / rate);
        text += u", " + timeLeftText(left) + u" left";
    }
    std::fprintf(m_err, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(m_err);
    m_progressShown = true;
}

void Runner::clearProgress() {
    if (m_progressShown) {
        std::fputs("\r\033[K", m_err);
        m_progressShown = false;
    }
}

}  // namespace relay

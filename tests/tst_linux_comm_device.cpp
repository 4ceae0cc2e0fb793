// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux serial device on real pseudo-terminals, with the simulated board on the master side,
// through the real event loop. Child processes stand in for other programs and for a user
// without root's privileges.

#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "serial/linux_comm_device.h"
#include "serial/uucp_lock.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"

using logic::CommError;
using serial::LinuxCommDevice;
using serial::PortNumbering;
using sim::PseudoTerminal;
using sim::RelayBoardSim;
namespace comm_error = serial::comm_error;

namespace {

// The COM number the tests bind to their pseudo-terminal; bindings override the machine's own
// numbering, so any number would do.
constexpr std::int16_t kBoundPort = 3;
constexpr int kLongWaitMs = 20000;

QByteArray channel1On() {
    return QByteArray::fromHex("A00103A4");
}

QByteArray channel2On() {
    return QByteArray::fromHex("A00203A5");
}

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QByteArray toByteArray(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

// Byte i is i modulo 256: a stream whose every byte can be checked for place.
QByteArray pattern(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i & 0xFF);
    }
    return bytes;
}

std::optional<CommError> errorOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const CommError& error) {
        return error;
    }
    return std::nullopt;
}

struct LineState {
    speed_t speed = 0;
    bool twoStopBits = false;
};

// The settings of the line as the kernel holds them, read through the pseudo-terminal's own
// descriptor on the slave side. A pseudo-terminal keeps speed and stop bits but always reports
// 8 data bits and no parity, so those two are checked on the parser (tst_line_settings).
LineState lineState(const PseudoTerminal& terminal) {
    termios tio{};
    ::tcgetattr(terminal.slaveDescriptor(), &tio);
    return {::cfgetospeed(&tio), (tio.c_cflag & CSTOPB) != 0};
}

// Received bytes waiting in the line's input queue, not yet read by anyone.
int bytesWaitingOnLine(const PseudoTerminal& terminal) {
    int count = 0;
    ::ioctl(terminal.slaveDescriptor(), TIOCINQ, &count);
    return count;
}

// Everything the master of `terminal` can read now, without waiting.
QByteArray readFromMaster(const PseudoTerminal& terminal) {
    QByteArray bytes;
    std::array<char, 65536> buffer{};
    ssize_t count = 0;
    while ((count = ::read(terminal.masterDescriptor(), buffer.data(), buffer.size())) > 0) {
        bytes.append(buffer.data(), count);
    }
    return bytes;
}

// Another program holding a port through Qt's lock file: the helper in a child process. It lets
// go when its input closes. One that has to be killed leaves a stale lock, which is removed here
// if the test did not get as far as the open that clears it.
class Holder {
public:
    // `how` is the helper's command: "hold" through Qt's lock file, "flock" through an flock.
    explicit Holder(const QString& path, const QString& how = QStringLiteral("hold"))
        : m_path(path) {
        m_process.start(COMM_DEVICE_HELPER, {how, path});
    }
    ~Holder() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.closeWriteChannel();
            m_process.waitForFinished(kLongWaitMs);
        }
        if (m_killed) {
            for (const QString& file : support::lockFilesFor(m_path)) {
                QFile::remove(file);
            }
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

    // True once the helper has answered; held() then says whether it holds the port.
    bool answered() {
        if (!m_answered && m_process.canReadLine()) {
            m_answered = true;
            m_held = m_process.readLine().trimmed() == "held";
        }
        return m_answered;
    }
    bool held() const { return m_held; }

    void kill() {
        m_killed = true;
        m_process.kill();
    }
    void release() { m_process.closeWriteChannel(); }
    bool finished() const { return m_process.state() == QProcess::NotRunning; }

private:
    QString m_path;
    QProcess m_process;
    bool m_answered = false;
    bool m_held = false;
    bool m_killed = false;
};

// The lock file of a pid in each format serial programs write.
QByteArray lockContents(const QString& format, qint64 pid) {
    if (format == u"binary") {
        const auto binary = static_cast<std::int32_t>(pid);
        return {reinterpret_cast<const char*>(&binary), sizeof binary};
    }
    if (format == u"qt") {
        return QByteArray::number(pid) + "\nsome-qt-program\n" +
               QSysInfo::machineHostName().toUtf8() + '\n';
    }
    const QByteArray ascii = QByteArray::number(pid).rightJustified(10, ' ');
    return ascii + (format == u"ascii" ? QByteArray("\n") : QByteArray(" minicom root\n"));
}

// Another program's lock file, written for a test and removed after it unless someone else's
// lock has replaced it.
class ForeignLock {
public:
    ForeignLock(const QString& file, const QByteArray& contents)
        : m_file(file), m_contents(contents) {
        QFile lock(file);
        m_written = lock.open(QIODevice::NewOnly) && lock.write(contents) == contents.size();
    }
    ~ForeignLock() {
        if (m_written && contents() == m_contents) {
            QFile::remove(m_file);
        }
    }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;

    bool written() const { return m_written; }
    QByteArray contents() const {
        QFile lock(m_file);
        return lock.open(QIODevice::ReadOnly) ? lock.readAll() : QByteArray();
    }

private:
    QString m_file;
    QByteArray m_contents;
    bool m_written = false;
};

// A pseudo-terminal with the simulated board on its master.
struct Line {
    PseudoTerminal terminal;
    RelayBoardSim board{terminal};

    QString path() const { return terminal.slavePath(); }
    PortNumbering numbering() const { return PortNumbering({{kBoundPort, path()}}); }
};

}  // namespace

// Records every OnComm of a device as the receive handler would meet it.
class Recorder : public QObject {
    Q_OBJECT

public:
    explicit Recorder(LinuxCommDevice& device) : m_device(device) {
        device.setOnComm([this] { onComm(); });
    }

    QList<int> events;
    // What Input returned, all events together.
    QByteArray received;
    // Whether receive events read the bytes; when false they are left waiting.
    bool reading = true;
    // Each receive event reads the count first, as the receive handler does; Input must return
    // at least that many.
    bool inputCoveredCount = true;
    bool openDuringReceive = true;
    QString lossDescription;

Q_SIGNALS:
    void raised(int event);

private:
    void onComm() {
        const int event = m_device.CommEvent();
        events.append(event);
        if (event == logic::kComEvReceive && reading) {
            openDuringReceive = openDuringReceive && m_device.PortOpen();
            const int count = m_device.InBufferCount();
            const QByteArray bytes = toByteArray(m_device.Input());
            inputCoveredCount = inputCoveredCount && bytes.size() >= count;
            received += bytes;
        }
        if (event == logic::kComEvPortLost) {
            lossDescription = m_device.CommEventDescription();
        }
        Q_EMIT raised(event);
    }

    LinuxCommDevice& m_device;
};

class TestLinuxCommDevice : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (const QString why = support::whyNoPseudoTerminal(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
    }

    // No test may leave a lock behind: the lock folder is the machine's.
    void cleanup() {
        for (const QString& path : std::as_const(m_paths)) {
            QVERIFY2(support::ownLockFilesFor(path).isEmpty(),
                     qPrintable(support::ownLockFilesFor(path).join(u", ")));
        }
        m_paths.clear();
    }

    void closedPortFollowsTheRules() {
        LinuxCommDevice device;
        QCOMPARE(device.CommPort(), std::int16_t(1));
        QVERIFY(!device.PortOpen());

        const auto output = errorOf([&] { device.Output(bytesOf(channel1On())); });
        QVERIFY(output.has_value());
        QCOMPARE(output->number(), comm_error::kPortNotOpen);
        QVERIFY(output->description().contains(u"COM1"));
        QCOMPARE(device.lastErrorDescription(), output->description());
        const auto input = errorOf([&] { device.Input(); });
        QVERIFY(input.has_value());
        QCOMPARE(input->number(), comm_error::kPortNotOpen);

        QCOMPARE(device.InBufferCount(), std::int16_t(0));
        QVERIFY(!errorOf([&] {
                     device.InBufferCount(0);
                     device.OutBufferCount(0);
                     device.PortOpen(false);
                 }).has_value());
        QVERIFY(!device.PortOpen());
    }

    void settingsTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");

        QTest::newRow("9600,N,8,1") << "9600,N,8,1" << true;
        QTest::newRow("115200,E,7,2") << "115200,E,7,2" << true;
        QTest::newRow("300,O,5,1.5") << "300,O,5,1.5" << true;
        QTest::newRow("1200,M,6,1") << "1200,M,6,1" << true;
        QTest::newRow("4800,S,8,2") << "4800,S,8,2" << true;
        QTest::newRow("9600,n,8,1") << "9600,n,8,1" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("three fields") << "9600,N,8" << false;
        QTest::newRow("unknown parity") << "9600,X,8,1" << false;
        QTest::newRow("nine data bits") << "9600,N,9,1" << false;
        QTest::newRow("three stop bits") << "9600,N,8,3" << false;
        QTest::newRow("zero speed") << "0,N,8,1" << false;
        QTest::newRow("1.5 stop bits with 8 data bits") << "9600,N,8,1.5" << false;
        QTest::newRow("spaces") << "9600, N, 8, 1" << false;
    }

    // An invalid text is refused when written, with a description that quotes it.
    void settingsTexts() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        LinuxCommDevice device;
        const auto error = errorOf([&] { device.Settings(text); });
        QCOMPARE(!error.has_value(), valid);
        if (!valid) {
            QCOMPARE(error->number(), comm_error::kInvalidPropertyValue);
            QVERIFY2(error->description().contains(u"“" + text + u"”"),
                     qPrintable(error->description()));
        }
    }

    void propertyValues_data() {
        QTest::addColumn<QString>("property");
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("valid");

        QTest::newRow("RThreshold 0") << "RThreshold" << 0 << true;
        QTest::newRow("RThreshold -1") << "RThreshold" << -1 << false;
        QTest::newRow("SThreshold -1") << "SThreshold" << -1 << false;
        QTest::newRow("InputLen 0") << "InputLen" << 0 << true;
        QTest::newRow("InputLen -1") << "InputLen" << -1 << false;
        QTest::newRow("InBufferSize 1") << "InBufferSize" << 1 << true;
        QTest::newRow("InBufferSize 0") << "InBufferSize" << 0 << false;
        QTest::newRow("OutBufferSize -5") << "OutBufferSize" << -5 << false;
        QTest::newRow("InputMode 0") << "InputMode" << 0 << true;
        QTest::newRow("InputMode 2") << "InputMode" << 2 << false;
    }

    void propertyValues() {
        QFETCH(QString, property);
        QFETCH(int, value);
        QFETCH(bool, valid);
        LinuxCommDevice device;
        const auto small = static_cast<std::int16_t>(value);
        const std::map<QString, std::function<void()>> writes{
            {"RThreshold", [&] { device.RThreshold(small); }},
            {"SThreshold", [&] { device.SThreshold(small); }},
            {"InputLen", [&] { device.InputLen(small); }},
            {"InBufferSize", [&] { device.InBufferSize(small); }},
            {"OutBufferSize", [&] { device.OutBufferSize(small); }},
            {"InputMode", [&] { device.InputMode(value); }},
        };
        const auto error = errorOf(writes.at(property));
        QCOMPARE(!error.has_value(), valid);
        if (!valid) {
            QCOMPARE(error->number(), comm_error::kInvalidPropertyValue);
            QVERIFY(error->description().contains(property));
        }
    }

    // The window's open at 9600,N,8,1 through a binding; a frame goes out, the board echoes it,
    // and the echo arrives through the event loop as one receive event.
    void frameAndEchoThroughTheEventLoop() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.Settings(QStringLiteral("9600,N,8,1"));
        device.PortOpen(true);
        QVERIFY(device.PortOpen());
        QCOMPARE(lineState(line->terminal).speed, speed_t(B9600));

        device.Output(bytesOf(channel1On()));
        QVERIFY(recorder.events.isEmpty());
        QTRY_COMPARE(recorder.received, channel1On());
        QCOMPARE(recorder.events, QList<int>{logic::kComEvReceive});
        QVERIFY(recorder.inputCoveredCount);
        QVERIFY(line->board.board().relayOn(1));
        QCOMPARE(device.CommEvent(), logic::kComEvReceive);
        device.PortOpen(false);
    }

    void initialSettingsAreTheWindows() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        QCOMPARE(lineState(line->terminal).speed, speed_t(B9600));
        QVERIFY(!lineState(line->terminal).twoStopBits);
        device.PortOpen(false);
    }

    void settingsWrittenWhileClosedApplyAtOpen_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("twoStopBits");

        QTest::newRow("115200,E,7,2") << "115200,E,7,2" << int(B115200) << true;
        QTest::newRow("300,O,5,1.5 (two stop bits at 5 bits send 1.5)")
            << "300,O,5,1.5" << int(B300) << true;
        QTest::newRow("57600,S,6,1") << "57600,S,6,1" << int(B57600) << false;
        QTest::newRow("19200,n,8,1") << "19200,n,8,1" << int(B19200) << false;
    }

    void settingsWrittenWhileClosedApplyAtOpen() {
        QFETCH(QString, text);
        QFETCH(int, speed);
        QFETCH(bool, twoStopBits);
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.Settings(text);
        device.RThreshold(1);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        QCOMPARE(lineState(line->terminal).speed, speed_t(speed));
        QCOMPARE(lineState(line->terminal).twoStopBits, twoStopBits);
        device.PortOpen(false);
    }

    void settingsWrittenWhileOpenApplyAtOnce() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.Settings(QStringLiteral("38400,N,8,2"));
        QCOMPARE(lineState(line->terminal).speed, speed_t(B38400));
        QVERIFY(lineState(line->terminal).twoStopBits);

        const auto error = errorOf([&] { device.Settings(QStringLiteral("38400,N,8,9")); });
        QVERIFY(error.has_value());
        QCOMPARE(error->number(), comm_error::kInvalidPropertyValue);
        QCOMPARE(lineState(line->terminal).speed, speed_t(B38400));

        // The remembered settings are the last valid ones, also for the next open.
        device.PortOpen(false);
        device.PortOpen(true);
        QCOMPARE(lineState(line->terminal).speed, speed_t(B38400));
        device.PortOpen(false);
    }

    // Bytes the board sent before the port was opened are not the reply to anything.
    void openDiscardsWhatWasWaiting() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        const QByteArray stale = QByteArray::fromHex("DEADBEEF");
        line->board.send(stale);
        QTRY_COMPARE(bytesWaitingOnLine(line->terminal), int(stale.size()));

        device.CommPort(kBoundPort);
        device.PortOpen(true);
        QCOMPARE(bytesWaitingOnLine(line->terminal), 0);
        device.Output(bytesOf(channel1On()));
        QTRY_COMPARE(recorder.received, channel1On());
        QCOMPARE(recorder.events, QList<int>{logic::kComEvReceive});
        device.PortOpen(false);
    }

    void receiveThreshold_data() {
        QTest::addColumn<int>("threshold");
        QTest::addColumn<int>("eventsAfterFirstFrame");
        QTest::addColumn<int>("eventsAfterSecondFrame");

        QTest::newRow("0: never") << 0 << 0 << 0;
        QTest::newRow("1: every arrival") << 1 << 1 << 2;
        QTest::newRow("4: the frame reaches it") << 4 << 1 << 2;
        QTest::newRow("5: two frames reach it") << 5 << 0 << 1;
    }

    // The echoes are left waiting, so the count only grows.
    void receiveThreshold() {
        QFETCH(int, threshold);
        QFETCH(int, eventsAfterFirstFrame);
        QFETCH(int, eventsAfterSecondFrame);
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        recorder.reading = false;
        device.RThreshold(static_cast<std::int16_t>(threshold));
        device.CommPort(kBoundPort);
        device.PortOpen(true);

        device.Output(bytesOf(channel1On()));
        QTRY_COMPARE(device.InBufferCount(), std::int16_t(4));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(recorder.events.size(), eventsAfterFirstFrame);

        device.Output(bytesOf(channel2On()));
        QTRY_COMPARE(device.InBufferCount(), std::int16_t(8));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(recorder.events.size(), eventsAfterSecondFrame);
        QCOMPARE(toByteArray(device.Input()), QByteArray(channel1On() + channel2On()));
        device.PortOpen(false);
    }

    void inBufferCountZeroDropsWaitingBytes() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.RThreshold(0);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.Output(bytesOf(channel1On()));
        QTRY_COMPARE(device.InBufferCount(), std::int16_t(4));
        device.InBufferCount(0);
        QCOMPARE(device.InBufferCount(), std::int16_t(0));

        device.Output(bytesOf(channel2On()));
        QTRY_COMPARE(device.InBufferCount(), std::int16_t(4));
        QCOMPARE(toByteArray(device.Input()), channel2On());
        device.PortOpen(false);
    }

    // Output pushes the frame to the line itself: it is on its way before the event loop turns
    // again. Nothing runs the event loop here, so the wait on the master ends only if the device
    // wrote the bytes within Output.
    void outputReachesTheLineAtOnce() {
        PseudoTerminal terminal;
        m_paths.append(terminal.slavePath());
        LinuxCommDevice device(PortNumbering({{kBoundPort, terminal.slavePath()}}));
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.Output(bytesOf(channel1On()));
        pollfd master{terminal.masterDescriptor(), POLLIN, 0};
        QCOMPARE(::poll(&master, 1, kLongWaitMs), 1);
        QCOMPARE(readFromMaster(terminal), channel1On());
        device.PortOpen(false);
    }

    // A line that takes no more for now (the far end is not reading) is not a lost line: the
    // bytes wait and go when it reads again.
    void aFullLineIsNotALostLine() {
        PseudoTerminal terminal;
        m_paths.append(terminal.slavePath());
        LinuxCommDevice device(PortNumbering({{kBoundPort, terminal.slavePath()}}));
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        const QByteArray first = pattern(1 << 20);
        device.Output(bytesOf(first));
        device.Output(bytesOf(channel1On()));
        QVERIFY(device.PortOpen());

        QByteArray arrived;
        const auto arrivedSize = [&] {
            arrived += readFromMaster(terminal);
            return arrived.size();
        };
        QTRY_COMPARE_WITH_TIMEOUT(arrivedSize(), first.size() + channel1On().size(), kLongWaitMs);
        QVERIFY(arrived == first + channel1On());
        QVERIFY(recorder.events.isEmpty());
        QVERIFY(device.PortOpen());
        device.PortOpen(false);
    }

    // 1 MiB from the board, as fast as the line takes it, arrives whole and in order.
    void floodArrivesCompleteAndInOrder() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        const QByteArray flood = pattern(1 << 20);
        line->board.send(flood);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.received.size(), flood.size(), kLongWaitMs);
        QVERIFY(recorder.received == flood);
        QVERIFY(recorder.inputCoveredCount);
        device.PortOpen(false);
    }

    // A stream of 10-byte packets every 10 ms, as a board at 9600 baud sends, is read at most
    // once a frame (100 ms), whole and in order, one OnComm per read; a frame after it comes in
    // one event.
    void aSlowStreamIsReadOnceAFrame() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> receivedAt;
        connect(&recorder, &Recorder::raised, this, [&](int event) {
            if (event == logic::kComEvReceive) {
                receivedAt.append(clock.elapsed());
            }
        });
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        const QByteArray stream = pattern(1000);
        qsizetype sent = 0;
        QTimer pacer;
        connect(&pacer, &QTimer::timeout, this, [&] {
            line->board.send(stream.mid(sent, 10));
            sent += 10;
            if (sent >= stream.size()) {
                pacer.stop();
            }
        });
        pacer.start(10);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.received.size(), stream.size(), kLongWaitMs);
        QVERIFY(recorder.received == stream);
        QVERIFY(recorder.inputCoveredCount);
        // The reads are a frame apart at least; the events follow them through the event loop,
        // so their spacing may vary by a little.
        const qint64 span = receivedAt.last() - receivedAt.first();
        QVERIFY2(
            receivedAt.size() <= span / 100 + 2,
            qPrintable(
                QStringLiteral("%1 receive events in %2 ms").arg(receivedAt.size()).arg(span)));

        const qsizetype events = recorder.events.size();
        device.Output(bytesOf(channel1On()));
        QTRY_COMPARE(recorder.received.size(), stream.size() + channel1On().size());
        QVERIFY(recorder.received.endsWith(channel1On()));
        QCOMPARE(recorder.events.size(), events + 1);
        device.PortOpen(false);
    }

    // After a quiet spell of a read period or more, the first bytes are read at once: a frame
    // from the board raises its OnComm long before a period has passed. A take that finds
    // nothing waiting is no read and does not hold them back. (The period is a second here, so
    // that a read held back for it cannot pass for one at once on a loaded machine.)
    void theFirstReadAfterAQuietSpellComesAtOnce() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.setReadPeriod(1000);
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        line->board.send(channel1On());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.received, channel1On(), kLongWaitMs);
        QTest::qWait(1100);
        QVERIFY(!device.takeReceiveEvent());

        QSignalSpy raised(&recorder, &Recorder::raised);
        QElapsedTimer sinceSent;
        sinceSent.start();
        line->board.send(channel2On());
        QVERIFY(raised.wait(kLongWaitMs));
        const qint64 waited = sinceSent.elapsed();
        QCOMPARE(recorder.received, channel1On() + channel2On());
        QVERIFY2(waited < 500, qPrintable(QStringLiteral("OnComm came %1 ms after the frame, "
                                                         "with a read period of 1000 ms")
                                              .arg(waited)));
        device.PortOpen(false);
    }

    // takeReceiveEvent reads at once what the pacing left waiting, whether Qt holds the first
    // byte of it or all of it is still in the kernel, and hands its receive event to the caller:
    // no OnComm follows for those bytes.
    void takeReceiveEventReadsWhatWaits() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.setReadPeriod(60000);
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        line->board.send(channel1On());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.received, channel1On(), kLongWaitMs);

        line->board.send(channel2On());
        for (int turn = 0; turn < 5; ++turn) {
            QCoreApplication::processEvents();
        }
        QVERIFY(device.takeReceiveEvent());
        QCOMPARE(device.CommEvent(), logic::kComEvReceive);
        QCOMPARE(toByteArray(device.Input()), channel2On());

        line->board.send(pattern(7));
        QVERIFY(device.takeReceiveEvent());
        QCOMPARE(toByteArray(device.Input()), pattern(7));

        for (int turn = 0; turn < 5; ++turn) {
            QCoreApplication::processEvents();
        }
        QVERIFY(!device.takeReceiveEvent());
        QCOMPARE(recorder.events, QList<int>{logic::kComEvReceive});
        device.PortOpen(false);
    }

    void whereTheReceiveEventIsRaised_data() {
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("through the event loop") << false;
        QTest::newRow("at once") << true;
    }

    // By default a receive event is raised through the event loop, never from inside the read
    // (the window's handler may open a message box); raised at once, the turn of the event loop
    // that reads the frame runs its OnComm too. A take still hands its event to its caller.
    void whereTheReceiveEventIsRaised() {
        QFETCH(bool, atOnce);
        PseudoTerminal terminal;
        m_paths.append(terminal.slavePath());
        LinuxCommDevice device(PortNumbering({{kBoundPort, terminal.slavePath()}}));
        device.setReadPeriod(0);
        device.setRaiseAtOnce(atOnce);
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);

        QCOMPARE(::write(terminal.masterDescriptor(), channel1On().constData(), 4), 4);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCOMPARE(recorder.received, atOnce ? channel1On() : QByteArray());
        QTRY_COMPARE(recorder.received, channel1On());

        QCOMPARE(::write(terminal.masterDescriptor(), channel2On().constData(), 4), 4);
        pollfd line{terminal.slaveDescriptor(), POLLIN, 0};
        QCOMPARE(::poll(&line, 1, kLongWaitMs), 1);
        QVERIFY(device.takeReceiveEvent());
        QCOMPARE(toByteArray(device.Input()), channel2On());
        QCOMPARE(recorder.events, QList<int>{logic::kComEvReceive});
        device.PortOpen(false);
    }

    // A board talks without a pause while every receive event, raised at once, answers with a
    // numbered block, as a script does, and the board reads its line only now and then, so that
    // the line fills and blocks wait in Qt's buffer. Every byte from the board arrives once and
    // in order, every block reaches the board whole and in order, and no OnComm runs inside
    // another.
    void raisedAtOnceWhileTheBoardTalks() {
        PseudoTerminal terminal;
        m_paths.append(terminal.slavePath());
        LinuxCommDevice device(PortNumbering({{kBoundPort, terminal.slavePath()}}));
        device.setReadPeriod(0);
        device.setRaiseAtOnce(true);
        QByteArray received;
        QByteArray answers;
        qint64 mostWaiting = 0;
        int depth = 0;
        int deepest = 0;
        device.setOnComm([&] {
            deepest = std::max(deepest, ++depth);
            if (device.CommEvent() == logic::kComEvReceive) {
                received += toByteArray(device.Input());
                const QByteArray block(512, static_cast<char>(answers.size() / 512));
                answers += block;
                device.Output(bytesOf(block));
                mostWaiting = std::max(mostWaiting, device.bytesToWrite());
            }
            --depth;
        });
        device.CommPort(kBoundPort);
        device.PortOpen(true);

        // The board sends 13 bytes a millisecond and reads its line every 50 ms, and at every
        // tick once all has arrived. The event loop runs without the pauses of QTest's waits.
        const QByteArray stream = pattern(8 * 1024);
        qsizetype sent = 0;
        QByteArray onLine;
        int tick = 0;
        QEventLoop done;
        QTimer board;
        connect(&board, &QTimer::timeout, this, [&] {
            if (sent < stream.size()) {
                const ssize_t written = ::write(
                    terminal.masterDescriptor(), stream.constData() + sent,
                    static_cast<std::size_t>(std::min<qsizetype>(stream.size() - sent, 13)));
                sent += std::max<ssize_t>(written, 0);
            }
            const bool allArrived = received.size() >= stream.size();
            if (++tick % 50 == 0 || allArrived) {
                onLine += readFromMaster(terminal);
            }
            if (allArrived && onLine.size() >= answers.size()) {
                done.quit();
            }
        });
        board.start(1);
        QTimer::singleShot(kLongWaitMs, &done, &QEventLoop::quit);
        done.exec();
        QVERIFY(received == stream);
        QVERIFY2(mostWaiting > 0, "the line never filled: no block waited");
        QVERIFY(onLine == answers);
        QCOMPARE(deepest, 1);
        device.PortOpen(false);
    }

    // The port is lost while bytes wait and the window holds events: the take hands those bytes
    // over, and only the loss follows once the hold ends.
    void takeReceiveEventWhileTheLostPortDrains() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.holdEvents();
        device.Output(bytesOf(channel1On()));
        QTRY_COMPARE(device.InBufferCount(), std::int16_t(4));
        line->board.hangUp();
        const auto outputFails = [&] {
            const auto error = errorOf([&] { device.Output({}); });
            return error && error->number() == comm_error::kPortLost;
        };
        QTRY_VERIFY(outputFails());

        QVERIFY(device.takeReceiveEvent());
        QCOMPARE(toByteArray(device.Input()), channel1On());
        QVERIFY(!device.takeReceiveEvent());
        device.releaseEvents();
        QTRY_COMPARE(recorder.events, QList<int>{logic::kComEvPortLost});
        QVERIFY(recorder.received.isEmpty());
        QVERIFY(!device.PortOpen());
    }

    // Opening the open port again is refused, and the port stays open.
    void openingAnOpenPortAgain() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        const auto again = errorOf([&] { device.PortOpen(true); });
        QVERIFY(again.has_value());
        QCOMPARE(again->number(), comm_error::kPortAlreadyOpen);
        QVERIFY(again->description().contains(line->path()));
        QVERIFY(device.PortOpen());
        device.PortOpen(false);
    }

    void closingReleasesTheLock() {
        auto line = makeLine();
        {
            LinuxCommDevice device(line->numbering());
            device.CommPort(kBoundPort);
            device.PortOpen(true);
            QVERIFY2(!support::lockFilesFor(line->path()).isEmpty(),
                     "the lock is not where Qt keeps it");
            device.PortOpen(false);
            QVERIFY(support::lockFilesFor(line->path()).isEmpty());
            device.PortOpen(true);
        }
        QVERIFY(support::lockFilesFor(line->path()).isEmpty());
    }

    // A port held elsewhere is busy, with its path in the message, and opens once the holder
    // lets go: another device of this program that closes it, another Qt program that ends, or
    // one that is killed and leaves its lock behind.
    void heldPortOpensOnceLetGo_data() {
        QTest::addColumn<QString>("holder");
        QTest::newRow("another device in this program") << "device";
        QTest::newRow("another program, ending") << "program";
        QTest::newRow("another program, killed") << "killed program";
    }

    void heldPortOpensOnceLetGo() {
        QFETCH(QString, holder);
        auto line = makeLine();
        LinuxCommDevice other(line->numbering());
        std::optional<Holder> program;
        if (holder == u"device") {
            other.CommPort(kBoundPort);
            other.PortOpen(true);
            QVERIFY(other.PortOpen());
        } else {
            program.emplace(line->path());
            QTRY_VERIFY_WITH_TIMEOUT(program->answered(), kLongWaitMs);
            QVERIFY(program->held());
        }

        LinuxCommDevice device(line->numbering());
        device.CommPort(kBoundPort);
        const auto error = errorOf([&] { device.PortOpen(true); });
        QVERIFY(error.has_value());
        QCOMPARE(error->number(), comm_error::kPortAlreadyOpen);
        QVERIFY2(error->description().contains(line->path()), qPrintable(error->description()));
        QVERIFY(!device.PortOpen());

        if (holder == u"device") {
            other.PortOpen(false);
        } else if (holder == u"program") {
            program->release();
            QTRY_VERIFY_WITH_TIMEOUT(program->finished(), kLongWaitMs);
        } else {
            program->kill();
            QTRY_VERIFY_WITH_TIMEOUT(program->finished(), kLongWaitMs);
            QVERIFY2(!support::lockFilesFor(line->path()).isEmpty(),
                     "the killed holder left no lock to test");
            // The holder also set the line's exclusive flag. On a real line its death, the last
            // close, clears the flag; here the pseudo-terminal's own descriptor keeps the line
            // open, so the flag is cleared by hand and only the stale lock is left to get past.
            QCOMPARE(::ioctl(line->terminal.slaveDescriptor(), TIOCNXCL), 0);
        }
        device.PortOpen(true);
        QVERIFY(device.PortOpen());
        device.PortOpen(false);
    }

    // Another program's lock, in each format serial programs write: a live holder makes the port
    // busy and its lock stays as it was; the lock of a holder that is gone is removed and the
    // port opens under our own lock.
    // A holder owned by root, met by an opener held to permissions, refuses its signal (EPERM)
    // yet is alive.
    void foreignLock_data() {
        QTest::addColumn<QString>("format");
        QTest::addColumn<bool>("live");
        QTest::addColumn<bool>("unprivileged");
        for (const char* format : {"ascii", "ascii with names", "qt", "binary"}) {
            QTest::addRow("%s, live", format) << QString::fromLatin1(format) << true << false;
            QTest::addRow("%s, dead", format) << QString::fromLatin1(format) << false << false;
        }
        QTest::newRow("ascii, live, another user opens") << "ascii" << true << true;
    }

    void foreignLock() {
        QFETCH(QString, format);
        QFETCH(bool, live);
        QFETCH(bool, unprivileged);
        if (unprivileged && (::geteuid() != 0 || !support::canRunUnprivileged())) {
            QSKIP("needs root, to hold the lock, and setpriv, to open as another user");
        }
        auto line = makeLine();
        QProcess holder;
        qint64 pid = support::deadPid();
        if (live) {
            holder.start(QStringLiteral("sleep"), {QStringLiteral("600")});
            QVERIFY(holder.waitForStarted());
            pid = holder.processId();
        }
        const QString file = serial::uucp_lock::lockFilePath(line->path());
        const ForeignLock lock(file, lockContents(format, pid));
        QVERIFY2(lock.written(), qPrintable(file));

        if (unprivileged) {
            const OpenerResult result = openInChild(line->path(), true);
            holder.kill();
            QVERIFY(holder.waitForFinished(kLongWaitMs));
            QVERIFY2(result.ran, qPrintable(result.failure));
            QCOMPARE(result.number, comm_error::kPortAlreadyOpen);
            QVERIFY2(result.description.contains(
                         QStringLiteral("锁文件 %1 属于正在运行的进程 %2").arg(file).arg(pid)),
                     qPrintable(result.description));
            QCOMPARE(lock.contents(), lockContents(format, pid));
            return;
        }
        LinuxCommDevice device(line->numbering());
        device.CommPort(kBoundPort);
        const auto error = errorOf([&] { device.PortOpen(true); });
        if (live) {
            QVERIFY(error.has_value());
            QCOMPARE(error->number(), comm_error::kPortAlreadyOpen);
            QVERIFY2(error->description().contains(line->path()) &&
                         error->description().contains(QString::number(pid)),
                     qPrintable(error->description()));
            QVERIFY(!device.PortOpen());
            QCOMPARE(lock.contents(), lockContents(format, pid));
            holder.kill();
            QVERIFY(holder.waitForFinished(kLongWaitMs));
        } else {
            QVERIFY2(!error.has_value(), qPrintable(error ? error->description() : QString()));
            QCOMPARE(lock.contents().split('\n').value(0).toLongLong(), qint64(::getpid()));
            device.PortOpen(false);
            QVERIFY(!QFile::exists(file));
        }
    }

    // Any user may put a FIFO where the lock goes. The port is busy, the message says what stands
    // there, and the open does not wait for a writer to the FIFO (it runs in another process, so
    // that a wait fails the test instead of hanging it).
    void fifoAtTheLockPath() {
        if (!support::canRunUnprivileged()) {
            QSKIP("running as root without setpriv: no way to plant the FIFO as another user");
        }
        auto line = makeLine();
        const QString file = serial::uucp_lock::lockFilePath(line->path());
        const support::ProgramRun planted = support::runUnprivileged(
            QStandardPaths::findExecutable(QStringLiteral("mkfifo")), {file});
        QVERIFY2(planted.finished && planted.exitCode == 0, qPrintable(planted.errors));
        const struct Remove {
            QString file;
            ~Remove() { QFile::remove(file); }
        } remove{file};
        const OpenerResult result = openInChild(line->path(), false);
        QVERIFY2(result.ran, qPrintable(u"the open did not end: " + result.failure));
        QCOMPARE(result.number, comm_error::kPortAlreadyOpen);
        QVERIFY2(result.description.contains(file) && result.description.contains(u"命名管道"),
                 qPrintable(result.description));
        QCOMPARE(QFileInfo(file).isFile(), false);
    }

    // Two copies of the program reaching one device by two names, a symlink and the node, share
    // one lock: the second is told the port is busy and by which process, also when it runs as
    // root, which passes the line's exclusive flag.
    void twoNamesOneLock_data() {
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<bool>("firstBySymlink");
        QTest::newRow("same user, symlink first") << false << true;
        QTest::newRow("same user, node first") << false << false;
        QTest::newRow("unprivileged, symlink first") << true << true;
        QTest::newRow("unprivileged, node first") << true << false;
    }

    void twoNamesOneLock() {
        QFETCH(bool, unprivileged);
        QFETCH(bool, firstBySymlink);
        if (unprivileged && !support::canRunUnprivileged()) {
            QSKIP("running as root without setpriv: no way to open the port as another user");
        }
        auto line = makeLine();
        const QTemporaryDir folder;
        QCOMPARE(::chmod(qPrintable(folder.path()), 0755), 0);
        const QString link = folder.filePath(QStringLiteral("line"));
        QVERIFY(QFile::link(line->path(), link));
        if (unprivileged && ::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            QVERIFY(nobody != nullptr);
            QCOMPARE(::chown(qPrintable(line->path()), nobody->pw_uid, nobody->pw_gid), 0);
        }
        const QString first = firstBySymlink ? link : line->path();
        const QString second = firstBySymlink ? line->path() : link;

        LinuxCommDevice device(PortNumbering({{kBoundPort, first}}));
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        const OpenerResult result = openInChild(second, unprivileged);
        device.PortOpen(false);
        if (!result.ran) {
            QSKIP(qPrintable(QString(u"the second opener could not run: " + result.failure)));
        }
        QCOMPARE(result.number, comm_error::kPortAlreadyOpen);
        QVERIFY2(result.description.contains(second) &&
                     result.description.contains(QString::number(::getpid())),
                 qPrintable(result.description));
        QVERIFY(support::lockFilesFor(link).isEmpty());
    }

    // A program that locks the device only with flock, as some terminal programs do, holds it
    // against everyone, root included; and the device's own flock holds against such programs.
    void flockHolds() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        device.CommPort(kBoundPort);
        {
            Holder holder(line->path(), QStringLiteral("flock"));
            QTRY_VERIFY_WITH_TIMEOUT(holder.answered(), kLongWaitMs);
            QVERIFY(holder.held());
            const auto error = errorOf([&] { device.PortOpen(true); });
            QVERIFY(error.has_value());
            QCOMPARE(error->number(), comm_error::kPortAlreadyOpen);
            QVERIFY2(error->description().contains(u"flock"), qPrintable(error->description()));
            QVERIFY(!device.PortOpen());
            QVERIFY(support::lockFilesFor(line->path()).isEmpty());
        }
        device.PortOpen(true);
        Holder other(line->path(), QStringLiteral("flock"));
        QTRY_VERIFY_WITH_TIMEOUT(other.answered(), kLongWaitMs);
        QVERIFY(!other.held());
        device.PortOpen(false);
    }

    void missingPath() {
        const QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("ttyUSB0"));
        LinuxCommDevice device(PortNumbering({{kBoundPort, path}}));
        device.CommPort(kBoundPort);
        const auto error = errorOf([&] { device.PortOpen(true); });
        QVERIFY(error.has_value());
        QCOMPARE(error->number(), comm_error::kPortNotFound);
        QVERIFY(error->description().contains(path));
        QVERIFY(!device.PortOpen());
    }

    void numberWithoutAPort_data() {
        QTest::addColumn<int>("port");
        QTest::newRow("one past the machine's ports")
            << int(PortNumbering::systemPorts().size() + 1);
        QTest::newRow("no selection") << 0;
    }

    void numberWithoutAPort() {
        QFETCH(int, port);
        LinuxCommDevice device;
        device.CommPort(static_cast<std::int16_t>(port));
        QVERIFY(device.devicePath(static_cast<std::int16_t>(port)).isEmpty());
        const auto error = errorOf([&] { device.PortOpen(true); });
        QVERIFY(error.has_value());
        QCOMPARE(error->number(), comm_error::kPortNotFound);
        QVERIFY(error->description().contains(QStringLiteral("COM%1").arg(port)));
    }

    void bindingsOverrideTheNumbering() {
        auto line = makeLine();
        LinuxCommDevice device(PortNumbering({{1, line->path()}}));
        const QStringList machine = PortNumbering::comOrder(PortNumbering::systemPorts());
        QCOMPARE(device.devicePath(1), line->path());
        QCOMPARE(device.devicePath(2), machine.value(1));

        Recorder recorder(device);
        device.CommPort(1);
        device.PortOpen(true);
        device.Output(bytesOf(channel2On()));
        QTRY_COMPARE(recorder.received, channel2On());
        device.PortOpen(false);
    }

    // A user who may not use the device learns that, with the path and how to get access; it is
    // not reported as a port in use.
    void permissionDeniedIsNotInUse() {
        if (!support::canRunUnprivileged()) {
            QSKIP("running as root without setpriv: no way to open the port as another user");
        }
        auto line = makeLine();
        QCOMPARE(::chmod(qPrintable(line->path()), ::geteuid() == 0 ? 0600 : 0), 0);
        const OpenerResult result = openAsUnprivileged(line->path());
        if (!result.ran) {
            QSKIP(qPrintable(QString(u"the unprivileged opener could not run: " + result.failure)));
        }
        QCOMPARE(result.number, comm_error::kPermissionDenied);
        QVERIFY(result.description.contains(line->path()));
        const QString group = QFileInfo(line->path()).group();
        QVERIFY2(result.description.contains(u"“" + group + u"”"), qPrintable(result.description));
    }

    // The line's exclusive flag, set by a program that took the line without Qt's lock file,
    // makes the port in use for everyone but root.
    void exclusiveFlagIsInUse() {
        if (!support::canRunUnprivileged()) {
            QSKIP("running as root without setpriv: no way to open the port as another user");
        }
        auto line = makeLine();
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            QVERIFY(nobody != nullptr);
            QCOMPARE(::chown(qPrintable(line->path()), nobody->pw_uid, nobody->pw_gid), 0);
        }
        QCOMPARE(::ioctl(line->terminal.slaveDescriptor(), TIOCEXCL), 0);
        const OpenerResult result = openAsUnprivileged(line->path());
        ::ioctl(line->terminal.slaveDescriptor(), TIOCNXCL);
        if (!result.ran) {
            QSKIP(qPrintable(QString(u"the unprivileged opener could not run: " + result.failure)));
        }
        QCOMPARE(result.number, comm_error::kPortAlreadyOpen);
        QVERIFY(result.description.contains(line->path()));
    }

    // The board hangs up while nothing moves. An echo that arrived before is still waiting
    // unread; it is delivered first, then the loss is reported once, and the port stays quiet.
    void hangUpWhileIdle() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        recorder.reading = false;
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.Output(bytesOf(channel1On()));
        QTRY_COMPARE(recorder.events, QList<int>{logic::kComEvReceive});
        QCOMPARE(device.InBufferCount(), std::int16_t(4));

        recorder.reading = true;
        line->board.hangUp();
        QTRY_COMPARE(recorder.events.size(), 3);
        QCOMPARE(recorder.events,
                 (QList<int>{logic::kComEvReceive, logic::kComEvReceive, logic::kComEvPortLost}));
        QCOMPARE(recorder.received, channel1On());
        QVERIFY(recorder.openDuringReceive);
        QVERIFY2(recorder.lossDescription.contains(line->path()),
                 qPrintable(recorder.lossDescription));
        QCOMPARE(device.CommEventDescription(), recorder.lossDescription);
        QVERIFY(!device.PortOpen());
        QCOMPARE(device.InBufferCount(), std::int16_t(0));
        const auto output = errorOf([&] { device.Output(bytesOf(channel1On())); });
        QVERIFY(output.has_value());
        QCOMPARE(output->number(), comm_error::kPortNotOpen);

        const double cpu = support::cpuSecondsOverOneSecond();
        QVERIFY2(cpu < 0.3, qPrintable(QStringLiteral("%1 CPU seconds").arg(cpu)));
        QCOMPARE(recorder.events.size(), 3);
    }

    // While the window holds events, neither the echo nor the hang-up behind it is raised; once
    // the hold ends both come, the bytes first, and nothing is lost.
    void heldEventsComeAfterTheHold() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.holdEvents();
        device.Output(bytesOf(channel1On()));
        // The echo must be waiting in the device before the hang-up: the kernel drops what is
        // still on its way through the pseudo-terminal when the master closes.
        QTRY_COMPARE(device.InBufferCount(), std::int16_t(4));
        line->board.hangUp();
        const auto outputFails = [&] {
            const auto error = errorOf([&] { device.Output({}); });
            return error && error->number() == comm_error::kPortLost;
        };
        QTRY_VERIFY(outputFails());
        for (int turn = 0; turn < 5; ++turn) {
            QCoreApplication::processEvents();
        }
        QVERIFY(recorder.events.isEmpty());
        QVERIFY(device.PortOpen());
        // While it drains, the lost port counts as open: opening it again is refused as for an
        // open port, and does not try the vanished device.
        const auto reopen = errorOf([&] { device.PortOpen(true); });
        QVERIFY(reopen.has_value());
        QCOMPARE(reopen->number(), comm_error::kPortAlreadyOpen);

        device.releaseEvents();
        QTRY_COMPARE(recorder.events, (QList<int>{logic::kComEvReceive, logic::kComEvPortLost}));
        QCOMPARE(recorder.received, channel1On());
        QVERIFY(!device.PortOpen());
    }

    // The board hangs up in the middle of a flood. Whatever reached the device is delivered, in
    // order and without gaps; the loss comes last and once.
    void hangUpWhileTheBoardSends() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        QSignalSpy raised(&recorder, &Recorder::raised);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        const QByteArray flood = pattern(4 << 20);
        line->board.send(flood);
        QVERIFY(raised.wait(kLongWaitMs));
        line->board.hangUp();

        QTRY_VERIFY_WITH_TIMEOUT(recorder.events.contains(logic::kComEvPortLost), kLongWaitMs);
        QCOMPARE(recorder.events.count(logic::kComEvPortLost), 1);
        QCOMPARE(recorder.events.constLast(), logic::kComEvPortLost);
        QVERIFY(!recorder.received.isEmpty());
        QVERIFY(flood.startsWith(recorder.received));
        QVERIFY(!device.PortOpen());

        const qsizetype events = recorder.events.size();
        const double cpu = support::cpuSecondsOverOneSecond();
        QVERIFY2(cpu < 0.3, qPrintable(QStringLiteral("%1 CPU seconds").arg(cpu)));
        QCOMPARE(recorder.events.size(), events);
    }

    // The board hangs up while the device still has most of a long Output to send.
    void hangUpWhileTheDeviceSends() {
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        line->board.setSilent(true);
        device.Output(bytesOf(QByteArray(1 << 20, '\x55')));
        line->board.hangUp();

        QTRY_COMPARE(recorder.events, QList<int>{logic::kComEvPortLost});
        QVERIFY(recorder.lossDescription.contains(line->path()));
        QVERIFY(!device.PortOpen());

        const double cpu = support::cpuSecondsOverOneSecond();
        QVERIFY2(cpu < 0.3, qPrintable(QStringLiteral("%1 CPU seconds").arg(cpu)));
        QCOMPARE(recorder.events, QList<int>{logic::kComEvPortLost});
    }

    void outputFindsTheLineGone_data() {
        QTest::addColumn<bool>("closeAtOnce");
        QTest::newRow("reports follow") << false;
        QTest::newRow("closing first cancels them") << true;
    }

    // An Output right after the hang-up, before the event loop has noticed it, finds the line
    // gone. The loss is then queued behind the waiting echo, as when the event loop notices it;
    // closing the port before the reports run means the program closed it itself, and neither
    // report comes.
    void outputFindsTheLineGone() {
        QFETCH(bool, closeAtOnce);
        auto line = makeLine();
        LinuxCommDevice device(line->numbering());
        Recorder recorder(device);
        recorder.reading = false;
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.Output(bytesOf(channel1On()));
        QTRY_COMPARE(recorder.events, QList<int>{logic::kComEvReceive});
        recorder.reading = true;

        line->board.hangUp();
        const auto error = errorOf([&] { device.Output(bytesOf(channel2On())); });
        QVERIFY(error.has_value());
        QCOMPARE(error->number(), comm_error::kPortLost);
        QVERIFY(error->description().contains(line->path()));
        // Until the loss is reported the port reads open and the echo stays readable.
        QVERIFY(device.PortOpen());
        QCOMPARE(device.InBufferCount(), std::int16_t(4));
        QVERIFY(support::lockFilesFor(line->path()).isEmpty());

        if (closeAtOnce) {
            device.PortOpen(false);
            QVERIFY(!device.PortOpen());
            QCOMPARE(device.InBufferCount(), std::int16_t(0));
        }
        const double cpu = support::cpuSecondsOverOneSecond();
        QVERIFY2(cpu < 0.3, qPrintable(QStringLiteral("%1 CPU seconds").arg(cpu)));
        if (closeAtOnce) {
            QCOMPARE(recorder.events, QList<int>{logic::kComEvReceive});
            QVERIFY(recorder.received.isEmpty());
        } else {
            QCOMPARE(recorder.events, (QList<int>{logic::kComEvReceive, logic::kComEvReceive,
                                                  logic::kComEvPortLost}));
            QCOMPARE(recorder.received, channel1On());
            QCOMPARE(recorder.lossDescription, error->description());
        }
        QVERIFY(!device.PortOpen());
    }

    // The relay-board-sim tool, as benchmarks and end-to-end tests run it: a separate process
    // that prints its line's path and serves the board there.
    void theToolServesTheBoard_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<bool>("hangsUp");

        QTest::newRow("echo") << QStringList{} << channel1On() << false;
        QTest::newRow("extra bytes")
            << QStringList{"--send-hex", "01 02 03"}
            << QByteArray(channel1On() + QByteArray::fromHex("010203")) << false;
        QTest::newRow("flood") << QStringList{"--flood", "300000"}
                               << QByteArray(channel1On() + pattern(300000)) << false;
        QTest::newRow("paced stream") << QStringList{"--flood", "2000", "--rate", "20000"}
                                      << QByteArray(channel1On() + pattern(2000)) << false;
        QTest::newRow("silent, then hang-up")
            << QStringList{"--silent", "--hang-up-after-ms", "0"} << QByteArray() << true;
    }

    void theToolServesTheBoard() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, expected);
        QFETCH(bool, hangsUp);
        QProcess tool;
        tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        tool.start(RELAY_BOARD_SIM, arguments);
        QTRY_VERIFY_WITH_TIMEOUT(tool.canReadLine(), kLongWaitMs);
        const QString path = QString::fromLocal8Bit(tool.readLine().trimmed());
        m_paths.append(path);

        LinuxCommDevice device(PortNumbering({{kBoundPort, path}}));
        Recorder recorder(device);
        device.CommPort(kBoundPort);
        device.PortOpen(true);
        device.Output(bytesOf(channel1On()));
        if (hangsUp) {
            QTRY_VERIFY_WITH_TIMEOUT(recorder.events.contains(logic::kComEvPortLost), kLongWaitMs);
            QTRY_COMPARE_WITH_TIMEOUT(tool.state(), QProcess::NotRunning, kLongWaitMs);
            QCOMPARE(tool.exitCode(), 0);
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(recorder.received.size(), expected.size(), kLongWaitMs);
            device.PortOpen(false);
            tool.kill();
            QTRY_COMPARE_WITH_TIMEOUT(tool.state(), QProcess::NotRunning, kLongWaitMs);
        }
        QVERIFY(recorder.received == expected);
    }

private:
    // A new line whose lock files cleanup() checks.
    std::unique_ptr<Line> makeLine() {
        auto line = std::make_unique<Line>();
        m_paths.append(line->path());
        return line;
    }

    struct OpenerResult {
        bool ran = false;
        int number = -1;
        QString description;
        QString failure;
    };

    // Runs the helper's opener on `path` in another process: as a user held to file permissions
    // and the exclusive flag, or as this one.
    static OpenerResult openInChild(const QString& path, bool unprivileged) {
        support::ProgramRun run;
        if (unprivileged) {
            run = support::runUnprivileged(QStringLiteral(COMM_DEVICE_HELPER), {"open", path});
        } else {
            QProcess process;
            process.start(QStringLiteral(COMM_DEVICE_HELPER), {"open", path});
            run.finished = process.waitForFinished(kLongWaitMs) &&
                           process.exitStatus() == QProcess::NormalExit;
            run.exitCode = process.exitCode();
            run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
            run.errors = QString::fromLocal8Bit(process.readAllStandardError());
        }
        OpenerResult result;
        bool ok = false;
        result.number = run.lines.value(0).toInt(&ok);
        result.ran = run.finished && ok && run.exitCode == 0;
        result.description = run.lines.value(1);
        if (!result.ran) {
            result.failure = run.errors;
        }
        return result;
    }

    static OpenerResult openAsUnprivileged(const QString& path) { return openInChild(path, true); }

    QStringList m_paths;
};

QTEST_GUILESS_MAIN(TestLinuxCommDevice)
#include "tst_linux_comm_device.moc"

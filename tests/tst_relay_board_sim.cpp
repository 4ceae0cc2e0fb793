// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated board's transport: on a pseudo-terminal's master, with a raw descriptor on the
// slave side standing in for the program, and on a QIODevice.

#include <fcntl.h>
#include <unistd.h>

#include <QSerialPort>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>
#include <array>
#include <cerrno>

#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"

using sim::PseudoTerminal;
using sim::RelayBoardSim;

namespace {

constexpr int kLongWaitMs = 20000;

QByteArray channel1On() {
    return QByteArray::fromHex("A00103A4");
}

// Everything `fd` can read now, without waiting.
QByteArray readAvailable(int fd) {
    QByteArray bytes;
    std::array<char, 65536> buffer{};
    ssize_t count = 0;
    while ((count = ::read(fd, buffer.data(), buffer.size())) > 0) {
        bytes.append(buffer.data(), count);
    }
    return bytes;
}

bool writeAll(int fd, const QByteArray& bytes) {
    return ::write(fd, bytes.constData(), static_cast<std::size_t>(bytes.size())) == bytes.size();
}

// The program's end of the line: the slave opened raw and non-blocking, read whenever it is
// readable so that the board can write as fast as the line goes.
class Client {
public:
    explicit Client(const QString& path)
        : m_fd(::open(qPrintable(path), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)),
          m_notifier(m_fd, QSocketNotifier::Read) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier,
                         [this] { readMore(); });
        m_notifier.setEnabled(m_fd >= 0);
    }
    ~Client() {
        m_notifier.setEnabled(false);
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    int fd() const { return m_fd; }
    const QByteArray& received() const { return m_received; }

private:
    void readMore() {
        std::array<char, 65536> buffer{};
        for (;;) {
            const ssize_t count = ::read(m_fd, buffer.data(), buffer.size());
            if (count > 0) {
                m_received.append(buffer.data(), count);
                continue;
            }
            // The end of a hung-up line reads again and again; once is enough.
            if (count == 0 || errno != EAGAIN) {
                m_notifier.setEnabled(false);
            }
            return;
        }
    }

    int m_fd = -1;
    QSocketNotifier m_notifier;
    QByteArray m_received;
};

}  // namespace

class TestRelayBoardSim : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (const QString why = support::whyNoPseudoTerminal(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
    }

    void echoesAcceptedFramesAndReports() {
        PseudoTerminal terminal;
        RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &RelayBoardSim::frameAccepted);
        QSignalSpy rejected(&board, &RelayBoardSim::frameRejected);
        QSignalSpy relays(&board, &RelayBoardSim::relaysChanged);
        Client client(terminal.slavePath());
        QVERIFY(client.fd() >= 0);

        QVERIFY(writeAll(client.fd(), QByteArray::fromHex("A00103A5") + channel1On()));
        QTRY_COMPARE(client.received(), channel1On());
        QCOMPARE(accepted.size(), 1);
        QCOMPARE(accepted.at(0).at(0).toByteArray(), channel1On());
        QCOMPARE(rejected.size(), 1);
        QCOMPARE(relays.size(), 1);
        QCOMPARE(relays.at(0), (QVariantList{true, false}));
        QCOMPARE(board.receivedBytes(), 8);

        // Switching a relay to the state it has already is answered but changes nothing.
        QVERIFY(writeAll(client.fd(), channel1On()));
        QTRY_COMPARE(client.received(), channel1On() + channel1On());
        QCOMPARE(relays.size(), 1);
    }

    void silentBoardSwitchesWithoutAnswering() {
        PseudoTerminal terminal;
        RelayBoardSim board(terminal);
        board.setSilent(true);
        QSignalSpy relays(&board, &RelayBoardSim::relaysChanged);
        Client client(terminal.slavePath());
        QVERIFY(writeAll(client.fd(), channel1On()));
        QTRY_COMPARE(relays.size(), 1);
        QVERIFY(board.board().relayOn(1));
        QCOMPARE(client.received(), QByteArray());
    }

    // More than the line holds at once goes out whole and in order, as the far end reads.
    void longOutputGoesOutWhole() {
        PseudoTerminal terminal;
        RelayBoardSim board(terminal);
        QSignalSpy drained(&board, &RelayBoardSim::outputDrained);
        Client client(terminal.slavePath());
        QByteArray bytes(4 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>(i * 7);
        }
        board.send(bytes);
        QVERIFY(board.pendingOutput() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(client.received().size(), bytes.size(), kLongWaitMs);
        QVERIFY(client.received() == bytes);
        QCOMPARE(board.pendingOutput(), 0);
        QCOMPARE(drained.size(), 1);
    }

    void hangUpEndsTheLine() {
        PseudoTerminal terminal;
        const QString path = terminal.slavePath();
        RelayBoardSim board(terminal);
        Client client(path);
        board.send(QByteArray(1 << 20, 'x'));
        board.hangUp();
        QVERIFY(!board.isServing());
        QVERIFY(!terminal.isOpen());
        QCOMPARE(board.pendingOutput(), 0);
        // A hung-up line reads as its end and refuses writes; its path is gone.
        std::array<char, 16> buffer{};
        QCOMPARE(::read(client.fd(), buffer.data(), buffer.size()), ssize_t(0));
        QCOMPARE(::write(client.fd(), "x", 1), ssize_t(-1));
        QVERIFY(::access(qPrintable(path), F_OK) != 0);
        board.send(channel1On());
        QCOMPARE(board.pendingOutput(), 0);
    }

    // Served on a QIODevice: here a QSerialPort on the slave side, with the test on the master.
    void servesOnADevice() {
        PseudoTerminal terminal;
        QSerialPort port(terminal.slavePath());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        RelayBoardSim board(port);
        QSignalSpy accepted(&board, &RelayBoardSim::frameAccepted);
        QSignalSpy drained(&board, &RelayBoardSim::outputDrained);

        QVERIFY(writeAll(terminal.masterDescriptor(), channel1On()));
        QByteArray echoed;
        const auto echoedSize = [&] {
            echoed += readAvailable(terminal.masterDescriptor());
            return echoed.size();
        };
        QTRY_COMPARE(echoedSize(), channel1On().size());
        QCOMPARE(echoed, channel1On());
        QCOMPARE(accepted.size(), 1);
        QVERIFY(board.board().relayOn(1));
        QTRY_VERIFY(!drained.isEmpty());

        board.hangUp();
        QVERIFY(!port.isOpen());
        QVERIFY(!board.isServing());
    }
};

QTEST_GUILESS_MAIN(TestRelayBoardSim)
#include "tst_relay_board_sim.moc"

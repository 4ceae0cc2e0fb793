// SPDX-License-Identifier: GPL-3.0-or-later
// The window logic on the real Linux device, a pseudo-terminal and the simulated board on its
// master, through the real event loop: start-up, a command and its echo, a flood in random
// chunks, and the faults an operator meets (a board that hangs up while idle, while the program
// sends and while the board floods, a board back on a new line, a port held by another program,
// a stale lock, no permission). Each fault ends in its message and the closed state, with every
// byte shown before it still shown and no busy loop afterwards. The controls are the in-memory
// double.

#include <sys/ioctl.h>
#include <sys/stat.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "fakes/fake_toolkit.h"
#include "fakes/work_area_lines.h"
#include "logic/frmmain.h"
#include "logic/port_manager.h"
#include "serial/linux_comm_device.h"
#include "serial/uucp_lock.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"

using fakes::FakeToolkit;
using fakes::kHeader;
using fakes::kSent;
using logic::Control;

namespace {

QString entries(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        text += QStringLiteral(" %1").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& byte : bytes) {
        byte = char(random.bounded(256));
    }
    return bytes;
}

// A pseudo-terminal with the board on its master.
struct Board {
    sim::PseudoTerminal terminal;
    sim::RelayBoardSim sim{terminal};
};

// The logic on the device with `bindings`, started up.
struct Rig {
    explicit Rig(const serial::PortNumbering::Bindings& bindings)
        : device(serial::PortNumbering(bindings)) {
        toolkit.comboIndex = 0;
        toolkit.texts[Control::Text1].clear();
        logic.Form_Load();
    }
    ~Rig() { device.PortOpen(false); }

    serial::LinuxCommDevice device;
    FakeToolkit toolkit;
    logic::frmmain logic{device, toolkit};
};

// COM1 bound to a board's line.
struct BoardRig {
    std::unique_ptr<Board> board = std::make_unique<Board>();
    Rig rig{{{1, board->terminal.slavePath()}}};
};

// After a lost port: the closed state, one message naming the device, and no busy loop.
void checkLost(Rig& rig, const QString& path) {
    QTRY_COMPARE(rig.toolkit.messages.size(), 1);
    QVERIFY2(rig.toolkit.messages.first().contains(path), qPrintable(rig.toolkit.messages.first()));
    QVERIFY(rig.toolkit.showsClosed());
    QCOMPARE(rig.logic.portManager().OpenedPort(), 0);
    QVERIFY(!rig.device.PortOpen());
    const double cpu = support::cpuSecondsOverOneSecond();
    QVERIFY2(cpu < 0.3, qPrintable(QStringLiteral("%1 CPU seconds in the second after").arg(cpu)));
    QCOMPARE(rig.toolkit.messages.size(), 1);
}

}  // namespace

class TestSerialLink : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (const QString why = support::whyNoPseudoTerminal(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
    }

    void startUpOpensTheBoundPort() {
        BoardRig link;
        QVERIFY(link.rig.toolkit.messages.isEmpty());
        QVERIFY(link.rig.toolkit.showsOpen());
        QVERIFY(link.rig.device.PortOpen());
    }

    void commandAndEcho() {
        BoardRig link;
        link.rig.logic.on1_Click(0);
        const QString expected = kSent + "A0 01 03 A4" + kHeader + QStringLiteral(" A0 01 03 A4");
        QTRY_COMPARE(link.rig.toolkit.texts[Control::Text1], expected);
        QCOMPARE(link.rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 A0 01 03 A4"));
        QVERIFY(link.board->sim.board().relayOn(1));
    }

    // A mebibyte sent in chunks of random sizes arrives complete and in order in both boxes,
    // behind the header of the one send before it.
    void floodInRandomChunks() {
        BoardRig link;
        Rig& rig = link.rig;
        link.board->sim.setSilent(true);
        rig.logic.Command11_Click();
        QTRY_COMPARE(link.board->sim.board().acceptedFrames(), std::size_t{1});

        QRandomGenerator random(1207);
        const QByteArray flood = randomBytes(1 << 20, 1207);
        for (qsizetype at = 0; at < flood.size();) {
            const qsizetype chunk = std::min<qsizetype>(random.bounded(1, 5000), flood.size() - at);
            link.board->sim.send(flood.mid(at, chunk));
            at += chunk;
            QCoreApplication::processEvents();
        }
        const QString shown = entries(flood);
        QTRY_COMPARE_WITH_TIMEOUT(rig.toolkit.texts[Control::Text4].size(),
                                  QStringLiteral("Text4").size() + shown.size(), 20000);
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4") + shown);
        QVERIFY(rig.toolkit.texts[Control::Text1].endsWith(kHeader + shown));
    }

    // The board hangs up while idle, as an adapter pulled out does: its stable name (here a link
    // bound to COM1) goes with it. (Bytes still in flight when a pseudo-terminal's master hangs
    // up are flushed by the kernel, so the reply is let in first; the device's own tests cover
    // bytes it had taken but not yet delivered.) The port button then finds the port gone.
    void hangUpWhileIdle() {
        QTemporaryDir folder;
        const QString link = folder.filePath(QStringLiteral("board"));
        Board board;
        QVERIFY(QFile::link(board.terminal.slavePath(), link));
        Rig rig({{1, link}});
        rig.logic.on2_Click(0);
        QTRY_VERIFY(rig.toolkit.texts[Control::Text4].endsWith(QStringLiteral("A0 02 03 A5")));
        const QString shown = rig.toolkit.texts[Control::Text1];
        board.sim.hangUp();
        QVERIFY(QFile::remove(link));

        checkLost(rig, link);
        QCOMPARE(rig.toolkit.texts[Control::Text1], shown);
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 A0 02 03 A5"));

        rig.logic.Command1_Click();
        QCOMPARE(rig.toolkit.messages.last(), logic::kPortMissingMessage);
        QVERIFY(rig.toolkit.showsClosed());
    }

    // The board hangs up while a long frame (16,383 bytes, the most a command box converts)
    // is still on its way out.
    void hangUpWhileSending() {
        BoardRig link;
        Rig& rig = link.rig;
        link.board->sim.setSilent(true);
        rig.toolkit.texts[Control::reverse1text] = QStringLiteral("5A").repeated(16383);
        rig.logic.reverse1_Click(0);
        QVERIFY(rig.toolkit.messages.isEmpty());
        link.board->sim.hangUp();
        checkLost(rig, link.board->terminal.slavePath());
        QVERIFY(rig.toolkit.texts[Control::Text1].endsWith(kHeader));
    }

    // The board hangs up in the middle of a flood: what was shown stays, in order.
    void hangUpDuringAFlood() {
        BoardRig link;
        Rig& rig = link.rig;
        link.board->sim.setSilent(true);
        rig.logic.Command10_Click();
        QTRY_COMPARE(link.board->sim.board().acceptedFrames(), std::size_t{1});
        const QByteArray flood = randomBytes(8 << 20, 77);
        link.board->sim.send(flood);
        QTRY_VERIFY(rig.toolkit.texts[Control::Text4].size() > 30000);
        link.board->sim.hangUp();

        checkLost(rig, link.board->terminal.slavePath());
        const QString& box = rig.toolkit.texts[Control::Text4];
        const qsizetype received = (box.size() - QStringLiteral("Text4").size()) / 3;
        QVERIFY(received < flood.size());
        const QString shown = entries(flood.first(received));
        QCOMPARE(box, QStringLiteral("Text4") + shown);
        QVERIFY(rig.toolkit.texts[Control::Text1].endsWith(kHeader + shown));
    }

    // The board comes back on a new line, as a USB adapter does under its stable name: COM1 is
    // bound to a link, and the link is pointed at the new line. The port button opens it again.
    void boardComesBackOnANewLine() {
        QTemporaryDir folder;
        const QString link = folder.filePath(QStringLiteral("board"));
        auto board = std::make_unique<Board>();
        QVERIFY(QFile::link(board->terminal.slavePath(), link));
        Rig rig({{1, link}});
        QVERIFY(rig.toolkit.showsOpen());

        board->sim.hangUp();
        checkLost(rig, link);

        board = std::make_unique<Board>();
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(board->terminal.slavePath(), link));
        rig.logic.Command1_Click();
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.logic.portManager().OpenedPort(), 1);
        rig.logic.on1_Click(0);
        QTRY_VERIFY(rig.toolkit.texts[Control::Text4].endsWith(QStringLiteral("A0 01 03 A4")));
        QCOMPARE(rig.toolkit.messages.size(), 1);
    }

    // Another program holds the port picked: the busy message and the closed state.
    void portHeldByAnotherProgram() {
        Board mine;
        Board other;
        QProcess holder;
        holder.start(QStringLiteral(COMM_DEVICE_HELPER), {"hold", other.terminal.slavePath()});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

        Rig rig({{1, mine.terminal.slavePath()}, {2, other.terminal.slavePath()}});
        rig.toolkit.comboIndex = 1;
        rig.logic.Combo1_Click();
        QCOMPARE(rig.toolkit.messages, QStringList{logic::kPortBusyMessage});
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.logic.portManager().SelectedPort(), 2);

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        rig.logic.Command1_Click();
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.logic.portManager().OpenedPort(), 2);
    }

    // A program that died holding the port left its lock behind; start-up opens the port
    // anyway, and closing it leaves no lock.
    void staleLockDoesNotBlock() {
        Board board;
        const QString path = board.terminal.slavePath();
        QProcess holder;
        holder.start(QStringLiteral(COMM_DEVICE_HELPER), {"hold", path});
        QVERIFY(holder.waitForReadyRead(10000));
        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
        QVERIFY2(!support::lockFilesFor(path).isEmpty(), "the killed holder left no lock to test");
        // The holder also set the line's exclusive flag, which its death clears on a real line;
        // here the pseudo-terminal's own descriptor keeps the line open, so it is cleared by hand.
        QCOMPARE(::ioctl(board.terminal.slaveDescriptor(), TIOCNXCL), 0);
        {
            Rig rig({{1, path}});
            QVERIFY(rig.toolkit.messages.isEmpty());
            QVERIFY(rig.toolkit.showsOpen());
        }
        QVERIFY(support::lockFilesFor(path).isEmpty());
    }

    // A terminal program that is not built with Qt holds the port through its lock file (its
    // PID in ten characters, its name and its user): start-up says the port is busy, shows the
    // closed state and leaves the other program's lock as it was.
    void anotherToolsLockMakesStartUpBusy() {
        Board board;
        const QString path = board.terminal.slavePath();
        QProcess tool;
        tool.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(tool.waitForStarted());
        QFile lock(serial::uucp_lock::lockFilePath(path));
        const QByteArray contents =
            QByteArray::number(tool.processId()).rightJustified(10, ' ') + " minicom root\n";
        QVERIFY(lock.open(QIODevice::NewOnly));
        lock.write(contents);
        lock.close();
        QByteArray after;
        {
            Rig rig({{1, path}});
            QCOMPARE(rig.toolkit.messages, QStringList{logic::kPortBusyMessage});
            QVERIFY(rig.toolkit.showsClosed());
            QVERIFY(lock.open(QIODevice::ReadOnly));
            after = lock.readAll();
            lock.close();
        }
        lock.remove();
        tool.kill();
        tool.waitForFinished();
        QCOMPARE(after, contents);
    }

    // No permission on the device: start-up in a process of a user who lacks it shows the
    // probe's "other error" and the closed state, and the device's description (the lamp's
    // tooltip) names the device and the group that grants access.
    void permissionDenied() {
        if (!support::canRunUnprivileged()) {
            QSKIP("running as root without setpriv: no way to start up as another user");
        }
        Board board;
        const QString path = board.terminal.slavePath();
        QCOMPARE(::chmod(qPrintable(path), ::geteuid() == 0 ? 0600 : 0), 0);
        const support::ProgramRun run =
            support::runUnprivileged(QStringLiteral(COMM_DEVICE_HELPER), {"start", path});
        QVERIFY2(run.finished && run.exitCode == 0, qPrintable(run.errors));
        QCOMPARE(run.lines.value(0), logic::kOtherErrorMessage);
        QCOMPARE(run.lines.value(1), logic::kClosedCaption);
        const QString description = run.lines.value(2);
        QVERIFY2(description.contains(path) && description.contains(QFileInfo(path).group()),
                 qPrintable(description));
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_serial_link.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The window logic on the real Linux device, a pseudo-terminal and the simulated board on its
// master, through the real event loop: start-up, a command and its echo, a flood in random
// chunks, and the faults an operator meets (a board that hangs up while idle, while the program
// sends and while the board floods, a board back on a new line, a port held by another program,
// a stale lock, no permission). Each fault ends in its message and the closed state, with every
// byte shown before it still shown and no busy loop afterwards. A board that talks while the
// operator acts loses nothing it said before an action. The controls are the in-memory double.

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <memory>
#include <thread>
#include <utility>

#include "fakes/fake_toolkit.h"
#include "fakes/fake_traffic_record.h"
#include "logic/frmmain.h"
#include "logic/port_manager.h"
#include "serial/linux_comm_device.h"
#include "serial/uucp_lock.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"

using fakes::FakeToolkit;
using logic::Control;

namespace {

const QString kSent = QStringLiteral("\r\n发出数据:");
const QString kHeader = QStringLiteral("\r\n-->收到数据:");

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

using Clock = std::chrono::steady_clock;

// A board that talks on its own: a thread writes packets of random sizes at random gaps straight
// to a pseudo-terminal's master, so that bytes also arrive while a handler runs. A packet is a run
// of numbered words of two bytes, the first with its top bit set and the second without, so that
// what arrives can be told apart word by word.
class TalkingBoard {
public:
    struct Packet {
        int firstWord = 0;
        int words = 0;
        // Just before its write began, and once it had returned.
        Clock::time_point begun;
        Clock::time_point written;
    };

    TalkingBoard(int master, quint32 seed) : m_master(master), m_random(seed) {}
    ~TalkingBoard() { stop(); }
    TalkingBoard(const TalkingBoard&) = delete;
    TalkingBoard& operator=(const TalkingBoard&) = delete;

    void start() {
        m_thread = std::thread([this] { run(); });
    }
    // Ends the talk; packets() is complete once this returns.
    void stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    const std::vector<Packet>& packets() const { return m_packets; }

    static constexpr int kMaxWords = 1 << 14;

private:
    void run() {
        int next = 0;
        while (!m_stop && next < kMaxWords) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_random.bounded(5, 100)));
            const int words = std::min(m_random.bounded(1, 13), kMaxWords - next);
            QByteArray bytes;
            for (int word = next; word < next + words; ++word) {
                bytes += char(0x80 | (word >> 7));
                bytes += char(word & 0x7F);
            }
            const Clock::time_point begun = Clock::now();
            if (!writeAll(bytes)) {
                return;
            }
            m_packets.push_back({next, words, begun, Clock::now()});
            next += words;
        }
    }

    bool writeAll(const QByteArray& bytes) {
        qsizetype at = 0;
        while (at < bytes.size() && !m_stop) {
            const ssize_t count = ::write(m_master, bytes.constData() + at,
                                          static_cast<std::size_t>(bytes.size() - at));
            if (count > 0) {
                at += count;
            } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd line{m_master, POLLOUT, 0};
                ::poll(&line, 1, 100);
            } else {
                return false;
            }
        }
        return at == bytes.size();
    }

    int m_master;
    QRandomGenerator m_random;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    std::vector<Packet> m_packets;
};

// The work area as the receive rule and the sends leave it, rebuilt from the record's entries.
QString workAreaFromRecord(const QStringList& entries) {
    QString text;
    for (const QString& entry : entries) {
        if (entry.startsWith(u"sent ")) {
            text += kSent + entry.mid(5).section(QStringLiteral(" | "), 0, 0) + kHeader;
        } else if (entry.startsWith(u"received ")) {
            for (const QString& byte : entry.mid(9).split(u' ', Qt::SkipEmptyParts)) {
                while (text.endsWith(u' ')) {
                    text.chop(1);
                }
                while (text.startsWith(u' ')) {
                    text.remove(0, 1);
                }
                text += u' ' + byte;
            }
        }
    }
    return text;
}

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
        const QString expected =
            QStringLiteral("\r\n发出数据:A0 01 03 A4") + kHeader + QStringLiteral(" A0 01 03 A4");
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

    // Three sends in quick succession, each once the board has taken the frame before it and at
    // least 20 ms after it: every echo stands under its own header, none cleared by the next send.
    void quickSendsKeepTheirEchoes() {
        BoardRig link;
        Rig& rig = link.rig;
        QElapsedTimer sinceClick;
        const auto waitForBoard = [&](std::size_t accepted) {
            const bool taken = QTest::qWaitFor(
                [&] { return link.board->sim.board().acceptedFrames() == accepted; }, 10000);
            QTest::qWait(static_cast<int>(std::max<qint64>(20 - sinceClick.elapsed(), 0)));
            return taken;
        };
        sinceClick.start();
        rig.logic.on1_Click(0);
        QVERIFY(waitForBoard(1));
        sinceClick.start();
        rig.logic.off1_Click(0);
        QVERIFY(waitForBoard(2));
        rig.logic.on2_Click(0);
        const QString expected =
            kSent + QStringLiteral("A0 01 03 A4") + kHeader + QStringLiteral(" A0 01 03 A4") +
            kSent + QStringLiteral("A0 01 02 A3") + kHeader + QStringLiteral(" A0 01 02 A3") +
            kSent + QStringLiteral("A0 02 03 A5") + kHeader + QStringLiteral(" A0 02 03 A5");
        QTRY_COMPARE(rig.toolkit.texts[Control::Text1], expected);
    }

    // The board talks on its own (packets of 2 to 24 bytes at gaps of 5 to 100 ms) while the
    // operator acts at random moments: sends, the port button twice (closed, then open again) and
    // a port change to COM2 and back. Whatever the board sent before an action is in the record
    // and in both boxes before that action's own lines, in order. A packet may go missing only
    // while a send clears the input, at most one per send, or while COM1 is closed.
    // ZEVA_LINK_SEED=n runs another seed.
    void talkWhileTheOperatorActs() {
        const quint32 seed = qEnvironmentVariableIsSet("ZEVA_LINK_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("ZEVA_LINK_SEED"))
                                 : 1207;
        // Bytes written to a pseudo-terminal's master reach the slave a moment later, on a
        // kernel worker's turn: a packet written this close before an action may still be on
        // its way, and counts as arriving during it.
        constexpr auto kHandOver = std::chrono::milliseconds(20);
        QRandomGenerator random(seed);
        sim::PseudoTerminal line1;
        sim::PseudoTerminal line2;
        serial::LinuxCommDevice device(
            serial::PortNumbering({{1, line1.slavePath()}, {2, line2.slavePath()}}));
        FakeToolkit toolkit;
        fakes::FakeTrafficRecord record;
        logic::frmmain logic(device, toolkit, record);
        toolkit.comboIndex = 0;
        toolkit.texts[Control::Text1].clear();
        logic.Form_Load();
        QVERIFY(toolkit.showsOpen());
        record.entries.clear();

        enum class Kind { Send, PortButton, PickCom2, PickCom1 };
        struct Action {
            Kind kind = Kind::Send;
            int button = 0;
            Clock::time_point start;
            Clock::time_point end;
            // The record's first entry of the action itself, behind what it showed first.
            qsizetype marker = 0;
        };
        std::vector<Action> actions(60);
        for (Action& action : actions) {
            action.button = random.bounded(8);
        }
        const auto closing = std::size_t(random.bounded(3, 25));
        actions[closing].kind = Kind::PortButton;
        actions[closing + 1].kind = Kind::PortButton;
        const auto away = std::size_t(random.bounded(30, 55));
        const auto back = away + std::size_t(random.bounded(1, 4));
        actions[away].kind = Kind::PickCom2;
        actions[back].kind = Kind::PickCom1;

        using Handler = void (logic::frmmain::*)(std::int16_t);
        constexpr std::array<Handler, 6> kChannels{
            &logic::frmmain::on1_Click,      &logic::frmmain::off1_Click,
            &logic::frmmain::reverse1_Click, &logic::frmmain::on2_Click,
            &logic::frmmain::off2_Click,     &logic::frmmain::reverse2_Click};
        const Clock::time_point t0 = Clock::now();
        TalkingBoard board(line1.masterDescriptor(), seed);
        board.start();
        for (Action& action : actions) {
            QTest::qWait(random.bounded(10, 110));
            const qsizetype before = record.entries.size();
            action.start = Clock::now();
            switch (action.kind) {
                case Kind::Send:
                    if (action.button < 6) {
                        (logic.*kChannels[std::size_t(action.button)])(0);
                    } else {
                        action.button == 6 ? logic.Command10_Click() : logic.Command11_Click();
                    }
                    break;
                case Kind::PortButton:
                    logic.Command1_Click();
                    break;
                case Kind::PickCom2:
                case Kind::PickCom1:
                    toolkit.comboIndex = action.kind == Kind::PickCom2 ? 1 : 0;
                    logic.Combo1_Click();
                    break;
            }
            action.end = Clock::now();
            action.marker = before;
            while (action.marker < record.entries.size() &&
                   record.entries[action.marker].startsWith(u"received ")) {
                ++action.marker;
            }
        }
        board.stop();
        const std::vector<TalkingBoard::Packet>& packets = board.packets();

        // Every word that arrived, with the record entry that completed it, in order.
        struct Arrived {
            std::vector<int> words;
            std::map<int, qsizetype> entryOf;
            int strayBytes = 0;
        };
        const auto arrived = [&] {
            Arrived result;
            int high = -1;
            for (qsizetype entry = 0; entry < record.entries.size(); ++entry) {
                if (!record.entries[entry].startsWith(u"received ")) {
                    continue;
                }
                const QByteArray bytes =
                    QByteArray::fromHex(record.entries[entry].mid(9).remove(u' ').toLatin1());
                for (const char value : bytes) {
                    const auto byte = static_cast<quint8>(value);
                    if (byte & 0x80) {
                        result.strayBytes += high >= 0 ? 1 : 0;
                        high = byte & 0x7F;
                    } else if (high < 0) {
                        ++result.strayBytes;
                    } else {
                        const int word = (high << 7) | byte;
                        result.words.push_back(word);
                        result.entryOf[word] = entry;
                        high = -1;
                    }
                }
            }
            return result;
        };
        // What the board sent after the last action cannot have been cleared: wait for it.
        const auto tailArrived = [&] {
            const Arrived now = arrived();
            for (const TalkingBoard::Packet& packet : packets) {
                if (packet.begun > actions.back().end &&
                    !now.entryOf.contains(packet.firstWord + packet.words - 1)) {
                    return false;
                }
            }
            return true;
        };
        QTRY_VERIFY_WITH_TIMEOUT(tailArrived(), 10000);
        const Arrived got = arrived();

        const auto ms = [&](Clock::time_point at) {
            return std::chrono::duration_cast<std::chrono::milliseconds>(at - t0).count();
        };
        QStringList problems;
        if (got.strayBytes > 0) {
            problems << QStringLiteral("%1 bytes arrived outside whole words").arg(got.strayBytes);
        }
        for (std::size_t i = 1; i < got.words.size(); ++i) {
            if (got.words[i] <= got.words[i - 1]) {
                problems << QStringLiteral("word %1 arrived after word %2")
                                .arg(got.words[i])
                                .arg(got.words[i - 1]);
            }
        }
        // COM1 is closed from the start of the port button's close, or of the change to COM2,
        // until its open is done: what the board says meanwhile is for nobody.
        const auto whileClosed = [&](const TalkingBoard::Packet& packet) {
            for (const auto& [from, to] :
                 {std::pair{closing, closing + 1}, std::pair{away, back}}) {
                if (packet.written >= actions[from].start - kHandOver &&
                    packet.begun <= actions[to].end) {
                    return true;
                }
            }
            return false;
        };
        std::vector<int> lostBySend(actions.size(), 0);
        int missing = 0;
        for (std::size_t p = 0; p < packets.size(); ++p) {
            const TalkingBoard::Packet& packet = packets[p];
            if (whileClosed(packet)) {
                continue;
            }
            const QString what = QStringLiteral("packet %1 (words %2 to %3, written at %4 ms)")
                                     .arg(p)
                                     .arg(packet.firstWord)
                                     .arg(packet.firstWord + packet.words - 1)
                                     .arg(ms(packet.written));
            qsizetype lastEntry = -1;
            bool whole = true;
            for (int word = packet.firstWord; word < packet.firstWord + packet.words; ++word) {
                const auto found = got.entryOf.find(word);
                whole = whole && found != got.entryOf.end();
                if (found != got.entryOf.end()) {
                    lastEntry = std::max(lastEntry, found->second);
                }
            }
            if (!whole) {
                ++missing;
                // Only a send under way as the packet arrived may have cleared it, once.
                const auto send =
                    std::find_if(actions.begin(), actions.end(), [&](const Action& a) {
                        return a.kind == Kind::Send && packet.written >= a.start - kHandOver &&
                               packet.begun <= a.end &&
                               lostBySend[std::size_t(&a - actions.data())] == 0;
                    });
                if (send == actions.end()) {
                    problems << what + QStringLiteral(" is missing, and no send was under way");
                } else {
                    ++lostBySend[std::size_t(send - actions.begin())];
                }
                continue;
            }
            const auto next = std::find_if(actions.begin(), actions.end(), [&](const Action& a) {
                return packet.written < a.start - kHandOver;
            });
            if (next != actions.end() && lastEntry >= next->marker) {
                problems << what + QStringLiteral(" was recorded after the action at %1 ms began")
                                       .arg(ms(next->start));
            }
        }
        qInfo("seed %u: %zu packets, %zu words arrived, %d packets missing", seed, packets.size(),
              got.words.size(), missing);
        QVERIFY2(problems.isEmpty(),
                 qPrintable(QStringLiteral("seed %1: %2 problems, the first: %3")
                                .arg(seed)
                                .arg(problems.size())
                                .arg(problems.mid(0, 8).join(u"; "))));

        // Both boxes show what the record holds, in the record's order.
        QString received;
        for (const QString& entry : std::as_const(record.entries)) {
            if (entry.startsWith(u"received ")) {
                received += u' ' + entry.mid(9);
            }
        }
        QCOMPARE(toolkit.texts[Control::Text4], QStringLiteral("Text4") + received);
        QCOMPARE(toolkit.texts[Control::Text1], workAreaFromRecord(record.entries));
        QVERIFY2(toolkit.messages.isEmpty(), qPrintable(toolkit.messages.join(u"; ")));
        device.PortOpen(false);
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

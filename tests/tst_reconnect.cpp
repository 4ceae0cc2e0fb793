// SPDX-License-Identifier: GPL-3.0-or-later
// Following a re-plugged board (--reconnect) on the Linux device, with the port follower
// watching the file system and pseudo-terminals standing in for adapters: a symlink plays the
// part of a /dev/serial/by-id name, and hanging a pseudo-terminal up and removing the link is a
// board pulled out. The window reopens the same device when it is back and never another one,
// waits while another program holds it, stops following when the operator closes the port, and
// leaves nothing behind over a hundred re-plugs.

#include <malloc.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "fakes/fake_toolkit.h"
#include "fakes/fake_traffic_record.h"
#include "logic/frmmain.h"
#include "logic/port_manager.h"
#include "serial/linux_comm_device.h"
#include "serial/port_follower.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"
#include "ui/main_window.h"

using logic::Control;
using serial::PortFollower;

namespace {

// A pseudo-terminal with the board on its master.
struct Board {
    sim::PseudoTerminal terminal;
    sim::RelayBoardSim sim{terminal};
    QString path() const { return terminal.slavePath(); }
};

// A board plugged in under a link in a folder of the test's own, as udev makes a by-id name.
struct Socket {
    QTemporaryDir folder;
    QString link = folder.filePath(QStringLiteral("usb-board-if00-port0"));
    std::unique_ptr<Board> board;

    void plugIn() {
        board = std::make_unique<Board>();
        QVERIFY(QFile::link(board->path(), link));
    }
    void pullOut() {
        board->sim.hangUp();
        QVERIFY(QFile::remove(link));
    }
};

// The window's logic on the Linux device and the follower, the controls in memory.
struct Rig {
    explicit Rig(serial::PortNumbering numbering,
                 PortFollower::ListAdapters list = &PortFollower::systemAdapters)
        : device(std::move(numbering)), follower(device.numbering(), std::move(list)) {
        logic.followDevices(follower);
        toolkit.comboIndex = 0;
        toolkit.texts[Control::Text1].clear();
        logic.Form_Load();
    }
    ~Rig() { device.PortOpen(false); }

    serial::LinuxCommDevice device;
    PortFollower follower;
    fakes::FakeToolkit toolkit;
    fakes::FakeTrafficRecord record;
    logic::frmmain logic{device, toolkit, record};
    const logic::PortManager& ports() const { return logic.portManager(); }
};

int openDescriptors() {
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::System | QDir::NoDotAndDotDot)
                                .size());
}

// Bytes the program has taken from the heap and not given back.
std::size_t heapInUse() {
    return mallinfo2().uordblks;
}

}  // namespace

class TestReconnect : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (const QString why = support::whyNoPseudoTerminal(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
    }

    // The window itself: the board is pulled out and another plugged in under the same name.
    // No message box, the lamp's tooltip names the link while waiting, and the first click after
    // the re-plug reaches the new board.
    void windowReopensTheBoardUnderTheSameName() {
        Socket socket;
        socket.plugIn();
        QStringList boxes;
        QTimer boxWatch;
        connect(&boxWatch, &QTimer::timeout, this, [&boxes] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes << box->text();
                box->button(QMessageBox::Ok)->click();
            }
        });
        boxWatch.start(5);
        serial::LinuxCommDevice device(serial::PortNumbering({{1, socket.link}}));
        PortFollower follower(device.numbering());
        fakes::FakeTrafficRecord record;
        ui::MainWindow window(device, device.portInfo(), record);
        window.logic().followDevices(follower);
        window.load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.caption(Control::Command1), logic::kOpenCaption);
        window.setText(Control::Text1, QStringLiteral("before"));

        socket.pullOut();
        QTRY_COMPARE(window.caption(Control::Command1), logic::kClosedCaption);
        const QString tip = window.lampToolTip();
        QVERIFY2(tip.contains(socket.link), qPrintable(tip));
        QCOMPARE(window.text(Control::Text1), QStringLiteral("before"));

        socket.plugIn();
        QTRY_COMPARE(window.caption(Control::Command1), logic::kOpenCaption);
        QTest::mouseClick(window.widget(Control::on1), Qt::LeftButton);
        QTRY_VERIFY(socket.board->sim.board().relayOn(1));
        QTRY_VERIFY(window.text(Control::Text4).endsWith(QStringLiteral("A0 01 03 A4")));
        QVERIFY2(boxes.isEmpty(), qPrintable(boxes.join(u'\n')));
        QVERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(record.entries.filter(QRegularExpression(QStringLiteral("^(opened|lost)"))),
                 (QStringList{"opened COM1 9600,N,8,1",
                              "lost COM1 串口 " + socket.link +
                                  " 已断开（设备被拔出或对方挂断），端口已关闭。",
                              "opened COM1 9600,N,8,1"}));
        device.PortOpen(false);
    }

    // Another device appears under another name in the same folder: it is never opened, and
    // the board under the awaited name still is, later.
    void anotherNameIsNeverOpened() {
        Socket socket;
        socket.plugIn();
        Rig rig(serial::PortNumbering({{1, socket.link}}));
        QVERIFY(rig.toolkit.showsOpen());
        socket.pullOut();
        QTRY_VERIFY(rig.toolkit.showsClosed());

        Board stranger;
        QVERIFY(QFile::link(stranger.path(), socket.folder.filePath(QStringLiteral("usb-other"))));
        // Time for the notices to be read and acted on, which must change nothing.
        QTest::qWait(300);
        QVERIFY(!rig.device.PortOpen());
        QVERIFY(rig.toolkit.showsClosed());
        QVERIFY(support::ownLockFilesFor(stranger.path()).isEmpty());

        socket.plugIn();
        QTRY_VERIFY(rig.toolkit.showsOpen());
        rig.logic.on1_Click(0);
        QTRY_VERIFY(socket.board->sim.board().relayOn(1));
        QVERIFY(!stranger.sim.board().relayOn(1));
        QVERIFY(rig.toolkit.messages.isEmpty());
    }

    // A COM number without a binding follows the adapter it opened, by its by-id name or its
    // serial number, not whatever the machine's numbering gives that number later.
    void unboundNumberFollowsTheAdapter_data() {
        QTest::addColumn<bool>("byIdName");
        QTest::newRow("by-id name") << true;
        QTest::newRow("serial number") << false;
    }

    void unboundNumberFollowsTheAdapter() {
        QFETCH(bool, byIdName);
        QTemporaryDir byId;
        QList<PortFollower::Adapter> adapters;
        const auto plug = [&](Board& board, const QString& serial) {
            PortFollower::Adapter adapter{board.path(), {}, serial};
            if (byIdName) {
                adapter.byIdName = byId.filePath(u"usb-maker-" + serial);
                QVERIFY(QFile::link(board.path(), adapter.byIdName));
            }
            adapters = {adapter};
        };
        const auto unplug = [&](Board& board) {
            board.sim.hangUp();
            adapters.clear();
            for (const QString& name : QDir(byId.path()).entryList(QDir::System)) {
                QFile::remove(byId.filePath(name));
            }
        };
        const auto listPaths = [&adapters] {
            QStringList paths;
            for (const PortFollower::Adapter& adapter : adapters) {
                paths << adapter.path;
            }
            return paths;
        };

        auto first = std::make_unique<Board>();
        plug(*first, QStringLiteral("A1"));
        Rig rig(serial::PortNumbering({}, listPaths), [&adapters] { return adapters; });
        QVERIFY(rig.toolkit.showsOpen());
        unplug(*first);
        QTRY_VERIFY(rig.toolkit.showsClosed());

        // Another adapter is now the machine's first port: COM1 by number, but not the board.
        Board other;
        plug(other, QStringLiteral("B2"));
        QTest::qWait(300);
        QVERIFY(!rig.device.PortOpen());
        QVERIFY(rig.device.devicePath(1) != other.path());

        Board back;
        const QList<PortFollower::Adapter> others = adapters;
        plug(back, QStringLiteral("A1"));
        adapters = others + adapters;
        QTRY_VERIFY(rig.toolkit.showsOpen());
        rig.logic.on2_Click(0);
        QTRY_VERIFY(back.sim.board().relayOn(2));
        QVERIFY(!other.sim.board().relayOn(2));
        QVERIFY(rig.toolkit.messages.isEmpty());
    }

    // The board comes back held by another program's lock: no open, the holder named in the
    // lamp's tooltip, and the open once the other program lets go.
    void busyAtReplugWaitsForTheHolder() {
        Socket socket;
        socket.plugIn();
        Rig rig(serial::PortNumbering({{1, socket.link}}));
        socket.pullOut();
        QTRY_VERIFY(rig.toolkit.showsClosed());

        auto board = std::make_unique<Board>();
        QProcess holder;
        holder.start(QStringLiteral(COMM_DEVICE_HELPER), {"hold", board->path()});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
        QVERIFY(QFile::link(board->path(), socket.link));
        const QString pid = QString::number(holder.processId());
        QTRY_VERIFY2(rig.ports().waitingText().contains(pid),
                     qPrintable(rig.ports().waitingText()));
        QVERIFY(!rig.device.PortOpen());
        QVERIFY(rig.toolkit.showsClosed());

        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
        QTRY_VERIFY(rig.toolkit.showsOpen());
        QVERIFY(rig.toolkit.messages.isEmpty());
        rig.logic.on1_Click(0);
        QTRY_VERIFY(board->sim.board().relayOn(1));
    }

    // The operator's own close stops following: a board plugged in afterwards stays closed
    // until the operator opens it.
    void operatorsCloseStopsReconnecting() {
        Socket socket;
        socket.plugIn();
        Rig rig(serial::PortNumbering({{1, socket.link}}));
        rig.logic.Command1_Click();
        QVERIFY(rig.toolkit.showsClosed());
        socket.pullOut();
        socket.plugIn();
        QTest::qWait(300);
        QVERIFY(!rig.device.PortOpen());
        QVERIFY(rig.ports().waitingText().isEmpty());
        rig.logic.Command1_Click();
        QVERIFY(rig.toolkit.showsOpen());
    }

    // While waiting the program sleeps: no CPU to speak of.
    void waitingCostsNoCpu() {
        Socket socket;
        socket.plugIn();
        Rig rig(serial::PortNumbering({{1, socket.link}}));
        socket.pullOut();
        QTRY_VERIFY(rig.toolkit.showsClosed());
        const double cpu = support::cpuSecondsOverOneSecond();
        QVERIFY2(cpu < 0.1, qPrintable(QStringLiteral("%1 CPU seconds while waiting").arg(cpu)));
    }

    // A hundred re-plugs: every one recorded, and no descriptor or heap left behind.
    void hundredReplugs() {
        Socket socket;
        socket.plugIn();
        Rig rig(serial::PortNumbering({{1, socket.link}}));
        const auto replug = [&] {
            socket.pullOut();
            QTRY_VERIFY(rig.toolkit.showsClosed());
            socket.plugIn();
            QTRY_VERIFY(rig.toolkit.showsOpen());
        };
        for (int cycle = 0; cycle < 10 && !QTest::currentTestFailed(); ++cycle) {
            replug();
        }
        // Queued deletions run before counting.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const int descriptors = openDescriptors();
        const std::size_t heap = heapInUse();
        for (int cycle = 10; cycle < 100 && !QTest::currentTestFailed(); ++cycle) {
            replug();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(openDescriptors(), descriptors);
        // Under the address sanitizer the heap is its own, and its leak check stands in.
        if (heap > 0) {
            const std::size_t grown = heapInUse() > heap ? heapInUse() - heap : 0;
            QVERIFY2(grown < 64 * 1024, qPrintable(QStringLiteral("%1 bytes more").arg(grown)));
        }
        QCOMPARE(rig.record.entries.filter(QStringLiteral("lost COM1")).size(), 100);
        QCOMPARE(rig.record.entries.filter(QStringLiteral("opened COM1")).size(), 101);
        QVERIFY(rig.toolkit.messages.isEmpty());
    }
};

QTEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>

#include "fakes/fake_comm_device.h"
#include "fakes/fake_device_watch.h"
#include "fakes/fake_toolkit.h"
#include "fakes/fake_traffic_record.h"
#include "logic/frmmain.h"
#include "logic/port_manager.h"

using fakes::FakeCommDevice;
using fakes::FakeDeviceWatch;
using fakes::FakeToolkit;
using fakes::FakeTrafficRecord;
using logic::Control;

namespace {

const QStringList kProbe1{"CommPort=1", "PortOpen=True", "PortOpen=False"};

// The device operations of opening `port` with the line settings.
QStringList openOps(int port) {
    return {QStringLiteral("CommPort=%1").arg(port),
            "OutBufferSize=1024",
            "InBufferSize=1024",
            "InputMode=1",
            "InputLen=0",
            "InBufferCount=0",
            "SThreshold=1",
            "RThreshold=1",
            "Settings=9600,N,8,1",
            "PortOpen=True"};
}

QStringList probeOps(int port) {
    return {QStringLiteral("CommPort=%1").arg(port), "PortOpen=True", "PortOpen=False"};
}

struct Rig {
    FakeCommDevice device;
    FakeToolkit toolkit;
    logic::frmmain logic{device, toolkit};

    const logic::PortManager& ports() const { return logic.portManager(); }

    // The operator picks COMn from the list.
    void pick(int port) {
        toolkit.comboIndex = static_cast<std::int16_t>(port - 1);
        logic.Combo1_Click();
    }

    // Starts with COM1 open and forgets what start-up did.
    void startOpen() {
        toolkit.comboIndex = 0;
        logic.Form_Load();
        QVERIFY(device.open);
        forget();
    }

    // Starts with no COM1 and forgets what start-up did.
    void startClosed() {
        device.existingPorts.remove(1);
        toolkit.comboIndex = 0;
        logic.Form_Load();
        QVERIFY(!device.open);
        forget();
    }

    void forget() {
        device.log.clear();
        toolkit.messages.clear();
    }
};

// The logic with --reconnect: a device watch and a record.
struct FollowRig {
    FollowRig() { logic.followDevices(watch); }

    FakeCommDevice device;
    FakeToolkit toolkit;
    FakeTrafficRecord record;
    FakeDeviceWatch watch;
    logic::frmmain logic{device, toolkit, record};

    const logic::PortManager& ports() const { return logic.portManager(); }

    // Starts with COM1 open and forgets what start-up did.
    void startOpen() {
        toolkit.comboIndex = 0;
        logic.Form_Load();
        QVERIFY(device.open);
        forget();
    }

    // The board is pulled out: COM1's device goes, and the open port with it.
    void pullOut() {
        device.existingPorts.remove(1);
        device.losePort(kLoss);
    }

    void forget() {
        device.log.clear();
        toolkit.messages.clear();
        record.entries.clear();
        watch.log.clear();
    }

    static inline const QString kLoss = QStringLiteral("串口 /dev/ttyUSB0 已断开");
};

}  // namespace

class TestPortManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startUpOpensCom1() {
        Rig rig;
        rig.logic.Form_Load();
        QCOMPARE(rig.device.log, kProbe1 + openOps(1));
        QCOMPARE(rig.toolkit.comboText, QStringLiteral("COM1"));
        QVERIFY(rig.toolkit.showsOpen());
        QVERIFY(rig.device.open);
        QCOMPARE(rig.ports().OpenedPort(), 1);
        QCOMPARE(rig.ports().SelectedPort(), 1);
        QCOMPARE(rig.ports().CommSettings(), logic::kLineSettings);
        QVERIFY(rig.toolkit.messages.isEmpty());
    }

    // A failed probe at start-up: the probe's message for the error number, then the closed
    // state; CommSettings stays empty.
    void startUpProbeFails_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("ops");
        const QStringList openAttempt{"CommPort=1", "PortOpen=True"};
        QTest::newRow("missing") << "PortOpen=True" << 8002 << "串口不存在！" << openAttempt;
        QTest::newRow("busy") << "PortOpen=True" << 8005 << "串口已打开！" << openAttempt;
        QTest::newRow("other at open") << "PortOpen=True" << 8100 << "其它错误" << openAttempt;
        QTest::newRow("other at close") << "PortOpen=False" << 8002 << "串口不存在！" << kProbe1;
        QTest::newRow("port number refused")
            << "CommPort" << 380 << "其它错误" << QStringList{"CommPort=1"};
    }

    void startUpProbeFails() {
        QFETCH(QString, failing);
        QFETCH(int, number);
        QFETCH(QString, message);
        QFETCH(QStringList, ops);
        Rig rig;
        rig.device.failOnce(failing, number, QStringLiteral("device says no"));

        rig.logic.Form_Load();

        QCOMPARE(rig.device.log, ops);
        QCOMPARE(rig.toolkit.messages, QStringList{message});
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().OpenedPort(), 0);
        QCOMPARE(rig.ports().SelectedPort(), 1);
        QVERIFY(rig.ports().CommSettings().isEmpty());
    }

    // The open after a good probe fails: the device's description, the closed state, not the
    // open state the open was about to confirm.
    void startUpOpenFails_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("skip");
        QTest::newRow("settings") << "Settings" << 0;
        QTest::newRow("open") << "PortOpen=True" << 1;
        QTest::newRow("buffer size") << "InBufferSize" << 0;
    }

    void startUpOpenFails() {
        QFETCH(QString, failing);
        QFETCH(int, skip);
        Rig rig;
        rig.device.failOnce(failing, 8101, QStringLiteral("无法打开 /dev/ttyS0"), skip);

        rig.logic.Form_Load();

        QCOMPARE(rig.toolkit.messages, QStringList{"无法打开 /dev/ttyS0"});
        QVERIFY(rig.toolkit.showsClosed());
        QVERIFY(!rig.device.open);
        QCOMPARE(rig.ports().OpenedPort(), 0);
        QCOMPARE(rig.ports().SelectedPort(), 1);
    }

    void pickingTheSelectedPortDoesNothing() {
        for (const bool open : {true, false}) {
            Rig rig;
            open ? rig.startOpen() : rig.startClosed();
            rig.pick(1);
            QVERIFY(rig.device.log.isEmpty());
            QVERIFY(open ? rig.toolkit.showsOpen() : rig.toolkit.showsClosed());
        }
    }

    void changeFromOpenPortToWorkingPort() {
        Rig rig;
        rig.startOpen();
        rig.pick(2);
        QCOMPARE(rig.device.log, QStringList{"PortOpen=False"} + probeOps(2) + openOps(2));
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.device.port, 2);
        QCOMPARE(rig.ports().OpenedPort(), 2);
        QCOMPARE(rig.ports().SelectedPort(), 2);
    }

    void changeFromOpenPortToFailingPort() {
        Rig rig;
        rig.startOpen();
        rig.device.existingPorts.remove(3);
        rig.pick(3);
        QCOMPARE(rig.device.log, (QStringList{"PortOpen=False", "CommPort=3", "PortOpen=True"}));
        QCOMPARE(rig.toolkit.messages, QStringList{"串口不存在！"});
        QVERIFY(rig.toolkit.showsClosed());
        QVERIFY(!rig.device.open);
        QCOMPARE(rig.ports().OpenedPort(), 0);
        QCOMPARE(rig.ports().SelectedPort(), 3);
    }

    // No close is attempted when no port is open; and after a failed start-up the open still
    // uses the line settings, although CommSettings was never set.
    void changeInClosedStateOpensWithLineSettings() {
        Rig rig;
        rig.startClosed();
        rig.pick(2);
        QCOMPARE(rig.device.log, probeOps(2) + openOps(2));
        QCOMPARE(rig.device.settings, logic::kLineSettings);
        QVERIFY(rig.ports().CommSettings().isEmpty());
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.ports().OpenedPort(), 2);
    }

    void changeWhoseOpenFailsShowsClosedState() {
        Rig rig;
        rig.startOpen();
        rig.device.failOnce("PortOpen=True", 8101, QStringLiteral("无法打开 COM2"), 1);
        rig.pick(2);
        QCOMPARE(rig.toolkit.messages, QStringList{"无法打开 COM2"});
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().OpenedPort(), 0);
        QCOMPARE(rig.ports().SelectedPort(), 2);
    }

    // A failing close is reported and the change goes on.
    void changeWhoseCloseFailsGoesOn() {
        Rig rig;
        rig.startOpen();
        rig.device.failOnce("PortOpen=False", 8101, QStringLiteral("无法关闭 COM1"));
        rig.device.open = false;  // the port is gone after all; the probe of COM2 can work
        rig.pick(2);
        QCOMPARE(rig.toolkit.messages, QStringList{"无法关闭 COM1"});
        QCOMPARE(rig.device.log.mid(1), probeOps(2) + openOps(2));
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.ports().OpenedPort(), 2);
    }

    void portButtonClosesOpenPort() {
        Rig rig;
        rig.startOpen();
        rig.logic.Command1_Click();
        QCOMPARE(rig.device.log, (QStringList{"Settings=9600,N,8,1", "PortOpen=False"}));
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().OpenedPort(), 0);
        QCOMPARE(rig.ports().SelectedPort(), 1);
    }

    // Reopening goes straight to PortOpen after the probe: the port number the probe left and
    // the settings just written apply, nothing else is configured again.
    void portButtonReopensSelectedPort() {
        Rig rig;
        rig.startOpen();
        rig.logic.Command1_Click();
        rig.forget();
        rig.logic.Command1_Click();
        QCOMPARE(rig.device.log,
                 QStringList{"Settings=9600,N,8,1"} + kProbe1 + QStringList{"PortOpen=True"});
        QVERIFY(rig.toolkit.showsOpen());
        QVERIFY(rig.device.open);
        QCOMPARE(rig.ports().OpenedPort(), 1);

        // A later port change closes it first.
        rig.forget();
        rig.pick(2);
        QCOMPARE(rig.device.log.first(), QStringLiteral("PortOpen=False"));
    }

    void portButtonFailures_data() {
        QTest::addColumn<bool>("startOpen");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("skip");
        QTest::addColumn<bool>("endsOpen");
        QTest::newRow("settings while open") << true << "Settings" << 0 << true;
        QTest::newRow("close") << true << "PortOpen=False" << 0 << true;
        QTest::newRow("settings while closed") << false << "Settings" << 0 << false;
        QTest::newRow("open after good probe") << false << "PortOpen=True" << 1 << false;
    }

    // One message with the device's description; the state stays as it was.
    void portButtonFailures() {
        QFETCH(bool, startOpen);
        QFETCH(QString, failing);
        QFETCH(int, skip);
        QFETCH(bool, endsOpen);
        Rig rig;
        startOpen ? rig.startOpen() : rig.startClosed();
        rig.device.existingPorts.insert(1);
        rig.device.failOnce(failing, 8015, QStringLiteral("无法设置 COM1"), skip);

        rig.logic.Command1_Click();

        QCOMPARE(rig.toolkit.messages, QStringList{"无法设置 COM1"});
        QVERIFY(endsOpen ? rig.toolkit.showsOpen() : rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().OpenedPort(), endsOpen ? 1 : 0);
    }

    // With no entry selected (a port name typed into the list's field) the port number is 0,
    // which no device has.
    void portButtonWithNothingSelected() {
        Rig rig;
        rig.startClosed();
        rig.toolkit.comboIndex = -1;
        rig.logic.Command1_Click();
        QCOMPARE(rig.device.log,
                 (QStringList{"Settings=9600,N,8,1", "CommPort=0", "PortOpen=True"}));
        QCOMPARE(rig.toolkit.messages, QStringList{"串口不存在！"});
        QVERIFY(rig.toolkit.showsClosed());
    }

    void probeOfOpenSelectedPortIsSilent() {
        Rig rig;
        rig.startOpen();
        logic::PortManager ports(rig.device, rig.toolkit);
        // A fresh manager has SelectedPort 0 and the caption says the port is open.
        QVERIFY(!ports.ProbePort(0));
        QVERIFY(rig.device.log.isEmpty());
        QVERIFY(rig.toolkit.messages.isEmpty());
        // Another port is probed, and found busy while COM1 is open.
        QVERIFY(!ports.ProbePort(2));
        QCOMPARE(rig.device.log, (QStringList{"CommPort=2", "PortOpen=True"}));
        QCOMPARE(rig.toolkit.messages, QStringList{"串口已打开！"});
    }

    // A lost port: the closed state, one message saying why, and the port button opens it again
    // once it is back.
    void lostPortShowsClosedStateAndReopens() {
        Rig rig;
        rig.startOpen();
        rig.device.losePort(QStringLiteral("串口 /dev/ttyUSB0 已断开"));
        QCOMPARE(rig.toolkit.messages, QStringList{"串口 /dev/ttyUSB0 已断开"});
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().OpenedPort(), 0);
        QVERIFY(!rig.device.open);

        rig.forget();
        rig.logic.Command1_Click();
        QVERIFY(rig.toolkit.showsOpen());
        QVERIFY(rig.device.open);
        QCOMPARE(rig.ports().OpenedPort(), 1);
        QVERIFY(rig.toolkit.messages.isEmpty());
    }

    void lossOvertakenByCloseIsSilent() {
        Rig rig;
        rig.startOpen();
        rig.logic.Command1_Click();
        rig.forget();
        rig.device.losePort(QStringLiteral("lost"));
        QVERIFY(rig.toolkit.messages.isEmpty());
        QVERIFY(rig.toolkit.showsClosed());
    }

    // An event that comes up while a handler's message box is open runs after the handler, not
    // inside it, and loses nothing.
    void eventsWaitForTheHandler() {
        Rig rig;
        rig.startOpen();
        rig.toolkit.texts[Control::Text1].clear();
        rig.device.failOnce("Output", 8102, QStringLiteral("写入失败"));
        QString textDuringBox;
        rig.toolkit.onMessageBox = [&](const QString&) {
            rig.device.receive({0x0A});
            rig.device.raise(logic::kComEvReceive);
            textDuringBox = rig.toolkit.texts[Control::Text1];
        };
        rig.logic.on1_Click(0);
        QCOMPARE(rig.toolkit.messages, QStringList{"写入失败"});
        QCOMPARE(textDuringBox, QString());
        QCOMPARE(rig.toolkit.texts[Control::Text1], QStringLiteral(" 0A"));
    }

    // With --reconnect a lost port shows no box: the closed state, the loss recorded, the work
    // area left alone, and a wait for the same device that the lamp's tooltip names. When it is
    // back it opens as start-up opens a port, and the next click goes to it.
    void lossWithReconnectWaitsAndReopens() {
        FollowRig rig;
        rig.startOpen();
        rig.toolkit.texts[Control::Text1] = QStringLiteral("发出数据:A0 01 03 A4");
        rig.pullOut();
        QVERIFY(rig.toolkit.messages.isEmpty());
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().OpenedPort(), 0);
        QCOMPARE(rig.toolkit.texts[Control::Text1], QStringLiteral("发出数据:A0 01 03 A4"));
        QCOMPARE(rig.record.entries, QStringList{"lost COM1 " + FollowRig::kLoss});
        QCOMPARE(rig.watch.watched, 1);
        QCOMPARE(rig.ports().waitingPort(), 1);
        const QString tip = rig.ports().waitingText();
        QVERIFY2(tip.contains(QStringLiteral("/dev/serial/by-id/board-1")), qPrintable(tip));
        QVERIFY2(tip.contains(FollowRig::kLoss), qPrintable(tip));

        rig.forget();
        rig.device.existingPorts.insert(1);
        rig.watch.change();
        QCOMPARE(rig.device.log, openOps(1));
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.ports().OpenedPort(), 1);
        QCOMPARE(rig.record.entries, QStringList{"opened COM1 9600,N,8,1"});
        QCOMPARE(rig.watch.log, (QStringList{"stopWatching", "follow 1"}));
        QVERIFY(rig.ports().waitingText().isEmpty());
        QVERIFY(rig.toolkit.messages.isEmpty());

        rig.device.log.clear();
        rig.logic.on1_Click(0);
        QVERIFY(rig.device.log.contains(QStringLiteral("Output=A0 01 03 A4")));
    }

    // Changes that do not bring the device back leave the wait as it was; every attempt is
    // followed by a fresh watch.
    void changesWithoutTheDeviceKeepWaiting() {
        FollowRig rig;
        rig.startOpen();
        rig.pullOut();
        rig.forget();
        for (int change = 0; change < 3; ++change) {
            rig.watch.change();
        }
        QVERIFY(!rig.device.open);
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.watch.log, (QStringList{"watch 1", "watch 1", "watch 1"}));
        QVERIFY(rig.record.entries.isEmpty());
        QVERIFY(rig.toolkit.messages.isEmpty());
        QVERIFY(rig.ports().waitingText().contains(FollowRig::kLoss));
    }

    // Back but held by another program: no open, the holder named in the tooltip, and the
    // open once it lets go.
    void busyAtReplugWaitsForTheHolder() {
        FollowRig rig;
        rig.startOpen();
        rig.pullOut();
        rig.device.existingPorts.insert(1);
        rig.device.busyPorts.insert(1);
        rig.watch.holderText = QStringLiteral("进程 4242（minicom）");
        rig.watch.change();
        QVERIFY(!rig.device.open);
        QVERIFY(rig.toolkit.showsClosed());
        const QString tip = rig.ports().waitingText();
        QVERIFY2(tip.contains(QStringLiteral("进程 4242（minicom）")), qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("COM1 is held by another program")), qPrintable(tip));
        QVERIFY(rig.toolkit.messages.isEmpty());

        rig.device.busyPorts.clear();
        rig.watch.change();
        QVERIFY(rig.device.open);
        QVERIFY(rig.toolkit.showsOpen());
    }

    // A port lost again at once after the watch reopened it waits for the next change rather
    // than trying again and again.
    void lostAgainAtOnceWaitsForAChange() {
        FollowRig rig;
        rig.startOpen();
        rig.device.losePort(FollowRig::kLoss);
        QVERIFY(rig.device.open);
        QVERIFY(rig.toolkit.showsOpen());
        rig.forget();
        rig.device.losePort(FollowRig::kLoss);
        QVERIFY(!rig.device.open);
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.record.entries, QStringList{"lost COM1 " + FollowRig::kLoss});
        rig.watch.change();
        QVERIFY(rig.device.open);
    }

    // At start-up a missing or busy COM1 is waited for without a box; any other failure is
    // reported as always, and nothing is waited for.
    void startUpWithReconnect_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<int>("waiting");
        QTest::newRow("missing") << 8002 << QStringList() << 1;
        QTest::newRow("busy") << 8005 << QStringList() << 1;
        QTest::newRow("other") << 8100 << QStringList{"其它错误"} << 0;
    }

    void startUpWithReconnect() {
        QFETCH(int, number);
        QFETCH(QStringList, messages);
        QFETCH(int, waiting);
        FollowRig rig;
        rig.toolkit.comboIndex = 0;
        rig.device.failOnce(QStringLiteral("PortOpen=True"), number, QStringLiteral("no"));
        rig.logic.Form_Load();
        QCOMPARE(rig.toolkit.messages, messages);
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().waitingPort(), waiting);
        QCOMPARE(rig.watch.watched, waiting);

        rig.watch.change();
        QCOMPARE(rig.device.open, waiting != 0);
        QCOMPARE(rig.toolkit.showsOpen(), waiting != 0);
        QCOMPARE(rig.record.entries.contains(QStringLiteral("opened COM1 9600,N,8,1")),
                 waiting != 0);
    }

    // A port picked in the list that is missing is reported as usual, then waited for.
    void pickedMissingPortIsReportedThenAwaited() {
        FollowRig rig;
        rig.startOpen();
        rig.device.existingPorts.remove(3);
        rig.toolkit.comboIndex = 2;
        rig.logic.Combo1_Click();
        QCOMPARE(rig.toolkit.messages, QStringList{logic::kPortMissingMessage});
        QVERIFY(rig.toolkit.showsClosed());
        QCOMPARE(rig.ports().waitingPort(), 3);
        rig.device.existingPorts.insert(3);
        rig.watch.change();
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.ports().OpenedPort(), 3);
        QCOMPARE(rig.toolkit.messages.size(), 1);
    }

    // The port button's close stops following until the operator opens a port again.
    void operatorsCloseStopsFollowing() {
        FollowRig rig;
        rig.startOpen();
        rig.logic.Command1_Click();
        QCOMPARE(rig.watch.log, QStringList{"forget"});
        rig.device.log.clear();
        rig.watch.change();
        QVERIFY(rig.device.log.isEmpty());
        QVERIFY(rig.toolkit.showsClosed());

        rig.logic.Command1_Click();
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.watch.log.last(), QStringLiteral("follow 1"));
        rig.pullOut();
        QCOMPARE(rig.watch.watched, 1);
        QVERIFY(rig.toolkit.messages.isEmpty());
    }

    // Picking another port while waiting stops waiting for the old one and follows the new.
    void pickingAnotherPortFollowsIt() {
        FollowRig rig;
        rig.startOpen();
        rig.pullOut();
        rig.forget();
        rig.toolkit.comboIndex = 1;
        rig.logic.Combo1_Click();
        QCOMPARE(rig.watch.log, (QStringList{"stopWatching", "forget", "follow 2"}));
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.ports().OpenedPort(), 2);
        rig.device.existingPorts.insert(1);
        rig.watch.change();
        QCOMPARE(rig.device.port, 2);
    }

    // A change while a handler's message box is open waits until the handler has ended.
    void changeWaitsForTheHandler() {
        FollowRig rig;
        rig.startOpen();
        rig.pullOut();
        rig.device.existingPorts.insert(1);
        bool openDuringBox = true;
        rig.toolkit.onMessageBox = [&](const QString&) {
            rig.watch.change();
            openDuringBox = rig.device.open;
        };
        // The port button's open of a port that is not selected fails its probe: a box.
        rig.device.failOnce(QStringLiteral("PortOpen=True"), 8100, QStringLiteral("no"));
        rig.logic.Command1_Click();
        QCOMPARE(rig.toolkit.messages, QStringList{"其它错误"});
        QVERIFY(!openDuringBox);
        QVERIFY(rig.device.open);
        QVERIFY(rig.toolkit.showsOpen());
    }
};

QTEST_GUILESS_MAIN(TestPortManager)
#include "tst_port_manager.moc"

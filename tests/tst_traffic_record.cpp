// SPDX-License-Identifier: GPL-3.0-or-later
// What the window's logic hands to the traffic record, on the doubles: every port open, close
// and loss, every send with the bytes written, every receive event and every error shown, and a
// record that fails reported once without a byte going missing from the boxes.

#include <QTest>

#include "fakes/fake_comm_device.h"
#include "fakes/fake_toolkit.h"
#include "fakes/fake_traffic_record.h"
#include "logic/frmmain.h"

using fakes::FakeTrafficRecord;
using logic::Control;

namespace {

struct Rig {
    fakes::FakeCommDevice device;
    fakes::FakeToolkit toolkit;
    FakeTrafficRecord record;
    logic::frmmain logic{device, toolkit, record};

    // Starts with COM1 open and forgets what start-up recorded.
    void startOpen() {
        toolkit.comboIndex = 0;
        logic.Form_Load();
        QVERIFY(device.open);
        record.entries.clear();
    }

    void pick(int port) {
        toolkit.comboIndex = static_cast<std::int16_t>(port - 1);
        logic.Combo1_Click();
    }
};

}  // namespace

class TestTrafficRecord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startUp() {
        Rig rig;
        rig.toolkit.comboIndex = 0;
        rig.logic.Form_Load();
        QCOMPARE(rig.record.entries, QStringList{"opened COM1 9600,N,8,1"});
    }

    void startUpWithoutCom1RecordsTheMessage() {
        Rig rig;
        rig.device.existingPorts.remove(1);
        rig.logic.Form_Load();
        QCOMPARE(rig.record.entries, QStringList{"error 串口不存在！"});
        QCOMPARE(rig.toolkit.messages, QStringList{"串口不存在！"});
    }

    void portButtonClosesAndOpens() {
        Rig rig;
        rig.startOpen();
        rig.logic.Command1_Click();
        rig.logic.Command1_Click();
        QCOMPARE(rig.record.entries, (QStringList{"closed COM1", "opened COM1 9600,N,8,1"}));
    }

    void portChange() {
        Rig rig;
        rig.startOpen();
        rig.pick(2);
        QCOMPARE(rig.record.entries, (QStringList{"closed COM1", "opened COM2 9600,N,8,1"}));
    }

    // A close that fails is an error, not a close; the device still holds COM1 open, so the
    // probe of COM2 fails too.
    void portChangeWithFailingClose() {
        Rig rig;
        rig.startOpen();
        rig.device.failOnce("PortOpen=False", 8101, QStringLiteral("无法关闭 COM1"));
        rig.pick(2);
        QCOMPARE(rig.record.entries, (QStringList{"error 无法关闭 COM1", "error 串口已打开！"}));
    }

    void portLost() {
        Rig rig;
        rig.startOpen();
        rig.device.losePort(QStringLiteral("串口 /dev/ttyUSB0 已断开"));
        QCOMPARE(rig.record.entries, (QStringList{"lost COM1 串口 /dev/ttyUSB0 已断开",
                                                  "error 串口 /dev/ttyUSB0 已断开"}));
    }

    // The text as the operator left it, and the bytes that went to the device.
    void sends_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("entry");
        QTest::newRow("whole frame") << "A0 01 03 A4"
                                     << "sent A0 01 03 A4 | A0 01 03 A4";
        QTest::newRow("fewer bytes") << "a0 0G A4"
                                     << "sent a0 0G A4 | A0";
        QTest::newRow("none") << "ZZ"
                              << "sent ZZ | ";
        QTest::newRow("empty") << ""
                               << "sent  | ";
        QTest::newRow("wrong checksum as edited") << " A0 01 03 A5 "
                                                  << "sent  A0 01 03 A5  | A0 01 03 A5";
        QTest::newRow("line breaks kept") << "A0\r\n01"
                                          << "sent A0\r\n01 | A0";
    }

    void sends() {
        QFETCH(QString, text);
        QFETCH(QString, entry);
        Rig rig;
        rig.startOpen();
        rig.toolkit.texts[Control::on1text] = text;
        rig.logic.on1_Click(0);
        QCOMPARE(rig.record.entries, QStringList{entry});
    }

    // A send the device refuses wrote nothing; the error follows it.
    void failingSend() {
        Rig rig;
        rig.startOpen();
        rig.device.failOnce("Output", 8102, QStringLiteral("写入失败"));
        rig.logic.Command10_Click();
        QCOMPARE(rig.record.entries,
                 (QStringList{"sent 24 01 04 01 02 02 2E | ", "error 写入失败"}));
    }

    // Every byte Input returns, those that came in after the count included, in one entry.
    void receiveEvent() {
        Rig rig;
        rig.startOpen();
        rig.device.receive({0x0A, 0xFF});
        rig.device.arriveDuringInput({0x00});
        rig.device.raise(logic::kComEvReceive);
        QCOMPARE(rig.record.entries, QStringList{"received 0A FF 00"});
    }

    // An OnComm of another kind, or one that finds nothing waiting (its bytes were taken
    // before an action), records nothing.
    void onlyBytesAreReceives_data() {
        QTest::addColumn<int>("event");
        QTest::newRow("another kind") << 1;
        QTest::newRow("a receive with nothing waiting") << int{logic::kComEvReceive};
    }

    void onlyBytesAreReceives() {
        QFETCH(int, event);
        Rig rig;
        rig.startOpen();
        rig.device.raise(static_cast<std::int16_t>(event));
        QVERIFY(rig.record.entries.isEmpty());
    }

    // Bytes that reached the device before an operator's action, with no OnComm run for them
    // yet, are shown and recorded before the action's own lines, as if OnComm had come at once;
    // their OnComm, when it comes, finds nothing more.
    void bytesBeforeAnActionComeFirst_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("workArea");
        const QString bytes = QStringLiteral("0A FF");
        QTest::newRow("send") << "send"
                              << QStringList{"received 0A FF", "sent A0 01 03 A4 | A0 01 03 A4"}
                              << bytes + "\r\n发出数据:A0 01 03 A4\r\n-->收到数据:";
        QTest::newRow("port button")
            << "port button" << QStringList{"received 0A FF", "closed COM1"} << bytes;
        QTest::newRow("port change")
            << "port change"
            << QStringList{"received 0A FF", "closed COM1", "opened COM2 9600,N,8,1"} << bytes;
        QTest::newRow("clear") << "clear" << QStringList{"received 0A FF"} << QString();
    }

    void bytesBeforeAnActionComeFirst() {
        QFETCH(QString, action);
        QFETCH(QStringList, entries);
        QFETCH(QString, workArea);
        Rig rig;
        rig.startOpen();
        rig.toolkit.texts[Control::Text1].clear();
        rig.device.receive({0x0A, 0xFF});
        if (action == u"send") {
            rig.logic.on1_Click(0);
        } else if (action == u"port button") {
            rig.logic.Command1_Click();
        } else if (action == u"port change") {
            rig.pick(2);
        } else {
            rig.logic.Command4_Click();
        }
        QCOMPARE(rig.record.entries, entries);
        QCOMPARE(rig.toolkit.texts[Control::Text1], workArea);
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 0A FF"));
        QVERIFY(rig.toolkit.messages.isEmpty());

        // (A close drops an OnComm on its way, as the Linux device does.)
        if (rig.device.open) {
            rig.device.raise(logic::kComEvReceive);
        }
        QCOMPARE(rig.record.entries, entries);
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 0A FF"));
    }

    // An action that starts inside another handler (its message box runs a nested event loop)
    // leaves the bytes that wait to that handler's end: one handler at a time.
    void anActionInsideAHandlerWaitsForIt() {
        Rig rig;
        rig.startOpen();
        rig.toolkit.texts[Control::Text1].clear();
        rig.device.failOnce("Output", 8102, QStringLiteral("写入失败"));
        QString workAreaInTheBox;
        rig.toolkit.onMessageBox = [&](const QString&) {
            rig.toolkit.onMessageBox = nullptr;
            rig.device.receive({0x5A});
            rig.device.raise(logic::kComEvReceive);
            rig.logic.Command4_Click();
            workAreaInTheBox = rig.toolkit.texts[Control::Text1];
        };
        rig.logic.on1_Click(0);
        QCOMPARE(workAreaInTheBox, QString());
        QCOMPARE(rig.record.entries,
                 (QStringList{"sent A0 01 03 A4 | ", "error 写入失败", "received 5A"}));
        QCOMPARE(rig.toolkit.texts[Control::Text1], QStringLiteral(" 5A"));
    }

    // The program ends (the window closed, or a stop signal, also while a message box is
    // open): what waits is shown and recorded, then the close; no message box.
    void closeAtExit_data() {
        QTest::addColumn<bool>("inABox");
        QTest::newRow("no handler running") << false;
        QTest::newRow("a message box open") << true;
    }

    void closeAtExit() {
        QFETCH(bool, inABox);
        Rig rig;
        rig.startOpen();
        QStringList atExit;
        const auto exit = [&] {
            rig.device.receive({0x0A, 0xFF});
            rig.logic.closeAtExit();
            atExit = rig.record.entries;
            QVERIFY(!rig.device.open);
        };
        if (inABox) {
            rig.device.failOnce("Output", 8102, QStringLiteral("写入失败"));
            rig.toolkit.onMessageBox = [&](const QString&) {
                rig.toolkit.onMessageBox = nullptr;
                exit();
            };
            rig.logic.Command10_Click();
            QCOMPARE(atExit, (QStringList{"sent 24 01 04 01 02 02 2E | ", "error 写入失败",
                                          "received 0A FF", "closed COM1"}));
            QCOMPARE(rig.toolkit.messages, QStringList{"写入失败"});
        } else {
            exit();
            QCOMPARE(atExit, (QStringList{"received 0A FF", "closed COM1"}));
            QVERIFY(rig.toolkit.messages.isEmpty());
        }
        QVERIFY(rig.toolkit.texts[Control::Text4].endsWith(u"0A FF"));
    }

    // The failing event is not kept, nor anything after it; the failure is one message at the
    // end of that handler, and the handler did all it had to.
    void failureIsOneMessage_data() {
        QTest::addColumn<int>("failAt");
        QTest::newRow("at start-up") << 0;
        QTest::newRow("at a send") << 1;
        QTest::newRow("at a receive") << 2;
    }

    void failureIsOneMessage() {
        QFETCH(int, failAt);
        Rig rig;
        rig.record.failAt = failAt;
        rig.toolkit.comboIndex = 0;
        rig.toolkit.texts[Control::Text1].clear();
        rig.logic.Form_Load();
        rig.logic.on1_Click(0);
        rig.device.receive({0xA0, 0x01});
        rig.device.raise(logic::kComEvReceive);
        rig.logic.Command11_Click();

        QCOMPARE(rig.toolkit.messages, QStringList{FakeTrafficRecord::kFailure});
        const QStringList all{"opened COM1 9600,N,8,1", "sent A0 01 03 A4 | A0 01 03 A4",
                              "received A0 01"};
        QCOMPARE(rig.record.entries, all.mid(0, failAt));
        // The window is untouched by it.
        QVERIFY(rig.toolkit.showsOpen());
        QCOMPARE(rig.toolkit.texts[Control::Text1],
                 QStringLiteral("\r\n发出数据:A0 01 03 A4\r\n-->收到数据: A0 01"
                                "\r\n发出数据:24 01 04 01 01 01 2C\r\n-->收到数据:"));
        QCOMPARE(rig.device.written, (std::vector<std::uint8_t>{0xA0, 0x01, 0x03, 0xA4, 0x24, 0x01,
                                                                0x04, 0x01, 0x01, 0x01, 0x2C}));
    }

    // A record failing while an error is shown: both messages, the error's first.
    void failureDuringAnError() {
        Rig rig;
        rig.record.failAt = 0;
        rig.device.existingPorts.remove(1);
        rig.logic.Form_Load();
        QCOMPARE(rig.toolkit.messages, (QStringList{"串口不存在！", FakeTrafficRecord::kFailure}));
        QVERIFY(rig.record.entries.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTrafficRecord)
#include "tst_traffic_record.moc"

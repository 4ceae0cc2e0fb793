// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>

#include "codec/hex_codec.h"
#include "fakes/open_logic.h"
#include "logic/frmmain.h"
#include "logic/transmit_path.h"

using fakes::FakeCommDevice;
using fakes::FakeToolkit;
using logic::Control;

namespace {

const QString kSent = QStringLiteral("\r\n发出数据:");
const QString kHeader = QStringLiteral("\r\n-->收到数据:");

QStringList sendOps(const QString& output) {
    QStringList ops{"InputMode=1", "InBufferCount=0", "OutBufferCount=0"};
    if (!output.isEmpty()) {
        ops << "Output=" + output;
    }
    return ops;
}

using Rig = fakes::OpenLogic;

}  // namespace

class TestTransmitPath : public QObject {
    Q_OBJECT

private Q_SLOTS:

    void sendsAndLogs_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("wire");

        QTest::newRow("canonical") << "A0 01 03 A4"
                                   << "A0 01 03 A4";
        QTest::newRow("lower case") << "a0 01"
                                    << "A0 01";
        QTest::newRow("not hex") << "ZZ"
                                 << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("all on") << "24 01 04 01 02 02 2E"
                                << "24 01 04 01 02 02 2E";
        QTest::newRow("spaces kept in the log") << "  A0 01  "
                                                << "A0 01";
        QTest::newRow("invalid tail logged unchanged") << "A0 0G A4"
                                                       << "A0";
        QTest::newRow("wrong checksum sent as edited") << "A0 01 03 A5"
                                                       << "A0 01 03 A5";
    }

    // One Output of exactly the converted bytes, after clearing both buffers, and the two log
    // lines with the text as given, whatever it converts to.
    void sendsAndLogs() {
        QFETCH(QString, text);
        QFETCH(QString, wire);
        Rig rig;
        auto& [device, toolkit, logic] = rig;

        logic.send_cmd(text);

        QCOMPARE(device.log, sendOps(wire));
        QCOMPARE(toolkit.texts[Control::Text1], kSent + text + kHeader);
        QCOMPARE(logic.transmitPath().TxText(), text);
        const auto& tx = logic.transmitPath().TxBytes();
        QCOMPARE(QString::fromStdU16String(codec::canonicalCommandText(tx)),
                 wire.isEmpty() ? QStringLiteral("00") : wire);
        QVERIFY(toolkit.messages.isEmpty());
    }

    void twoSendsLeaveFourLines() {
        Rig rig;
        auto& [device, toolkit, logic] = rig;
        toolkit.texts[Control::Text1] = QStringLiteral("notice\r\n");
        logic.send_cmd(QStringLiteral("A0 01 03 A4"));
        logic.send_cmd(QStringLiteral("A0 01 02 A3"));
        QCOMPARE(toolkit.texts[Control::Text1],
                 "notice\r\n" + kSent + "A0 01 03 A4" + kHeader + kSent + "A0 01 02 A3" + kHeader);
        QCOMPARE(logic.transmitPath().TxText(), QStringLiteral("A0 01 02 A3"));
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(device.written.data()),
                            static_cast<qsizetype>(device.written.size())),
                 QByteArray::fromHex("A00103A4A00102A3"));
    }

    // Step 3 drops what waits in the receive buffer then: what came while the send ran. (The
    // window shows what came before the click first; see the user actions' tests.)
    void bytesWaitingAtTheClearAreDiscarded() {
        FakeCommDevice device;
        FakeToolkit toolkit;
        device.open = true;
        logic::TransmitPath transmit(device, toolkit);
        device.receive({0x11, 0x22});
        transmit.send_cmd(QStringLiteral("A0 01 03 A4"));
        QVERIFY(device.rxBuffer.empty());
        QVERIFY(!toolkit.texts[Control::Text1].contains(QStringLiteral("11")));
        QCOMPARE(toolkit.texts[Control::Text4], QStringLiteral("Text4"));
    }

    // A failing device step ends the send there: one message box with the device's
    // description, nothing logged, and the text kept only if it was taken before the failure.
    void deviceFailureStopsTheSend_data() {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<bool>("textTaken");
        QTest::addColumn<bool>("written");
        QTest::newRow("InputMode") << "InputMode" << false << false;
        QTest::newRow("InBufferCount") << "InBufferCount" << true << false;
        QTest::newRow("OutBufferCount") << "OutBufferCount" << true << false;
        QTest::newRow("Output") << "Output" << true << false;
    }

    void deviceFailureStopsTheSend() {
        QFETCH(QString, failing);
        QFETCH(bool, textTaken);
        QFETCH(bool, written);
        Rig rig;
        auto& [device, toolkit, logic] = rig;
        device.failOnce(failing, 8020, QStringLiteral("写入 /dev/ttyUSB0 失败：输入/输出错误"));

        logic.send_cmd(QStringLiteral("A0 01 03 A4"));

        QCOMPARE(toolkit.messages, QStringList{"写入 /dev/ttyUSB0 失败：输入/输出错误"});
        QCOMPARE(toolkit.texts[Control::Text1], QString());
        QCOMPARE(logic.transmitPath().TxText().isEmpty(), !textTaken);
        QCOMPARE(!device.written.empty(), written);
        QCOMPARE(device.log.last().section(u'=', 0, 0), failing);

        // The program goes on: the next send works.
        logic.send_cmd(QStringLiteral("A0 01 02 A3"));
        QCOMPARE(toolkit.messages.size(), 1);
        QCOMPARE(toolkit.texts[Control::Text1], kSent + "A0 01 02 A3" + kHeader);
    }

    void sendWhileClosedIsReported() {
        Rig rig;
        auto& [device, toolkit, logic] = rig;
        device.open = false;
        logic.send_cmd(QStringLiteral("A0 01 03 A4"));
        QCOMPARE(toolkit.messages, QStringList{"port not open"});
        QCOMPARE(toolkit.texts[Control::Text1], QString());

        // Nothing to write means no Output, so nothing fails.
        logic.send_cmd(QString());
        QCOMPARE(toolkit.messages.size(), 1);
        QCOMPARE(toolkit.texts[Control::Text1], kSent + kHeader);
    }
};

QTEST_GUILESS_MAIN(TestTransmitPath)
#include "tst_transmit_path.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include <QRandomGenerator>
#include <QTest>

#include "codec/hex_codec.h"
#include "fakes/open_logic.h"
#include "logic/frmmain.h"

using fakes::FakeCommDevice;
using fakes::FakeToolkit;
using logic::Control;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The display rule applied literally, one byte at a time, rewriting the whole text: the spaces
// at both ends go, then one space and the byte's two digits are added.
QString byByteRule(QString text, const Bytes& bytes) {
    for (const std::uint8_t byte : bytes) {
        qsizetype first = 0;
        while (first < text.size() && text[first] == u' ') {
            ++first;
        }
        qsizetype last = text.size();
        while (last > first && text[last - 1] == u' ') {
            --last;
        }
        text = text.mid(first, last - first) + u' ' +
               QString::fromStdU16String(codec::hexByteText(byte));
    }
    return text;
}

struct Rig : fakes::OpenLogic {
    void arrive(const Bytes& bytes) {
        device.receive(bytes);
        device.raise(logic::kComEvReceive);
    }
};

}  // namespace

class TestReceivePath : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsOnlyOnReceiveEvents_data() {
        QTest::addColumn<int>("event");
        QTest::addColumn<QStringList>("ops");
        QTest::newRow("receive") << int{logic::kComEvReceive}
                                 << QStringList{"CommEvent?", "InputMode=1", "InBufferCount?",
                                                "Input?"};
        QTest::newRow("send") << 1 << QStringList{"CommEvent?"};
        QTest::newRow("break") << 1001 << QStringList{"CommEvent?"};
    }

    void readsOnlyOnReceiveEvents() {
        QFETCH(int, event);
        QFETCH(QStringList, ops);
        Rig rig;
        rig.device.receive({0x41});
        rig.device.raise(static_cast<std::int16_t>(event));
        QCOMPARE(rig.device.log, ops);
        const bool shown = event == logic::kComEvReceive;
        QCOMPARE(rig.toolkit.texts[Control::Text4], shown ? "Text4 41" : "Text4");
    }

    void eventWithoutBytesAddsNothing() {
        Rig rig;
        rig.toolkit.texts[Control::Text1] = QStringLiteral("  log  ");
        rig.device.raise(logic::kComEvReceive);
        QCOMPARE(rig.toolkit.texts[Control::Text1], QStringLiteral("  log  "));
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4"));
    }

    void repliesFollowTheHeader() {
        Rig rig;
        rig.logic.send_cmd(QStringLiteral("A0 01 03 A4"));
        rig.arrive({0xA0, 0x05, 0xFF});
        QVERIFY(rig.toolkit.texts[Control::Text1].endsWith(
            QStringLiteral("\r\n-->收到数据: A0 05 FF")));
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 A0 05 FF"));
        rig.arrive({0x00, 0x0F, 0x10});
        QVERIFY(rig.toolkit.texts[Control::Text1].endsWith(QStringLiteral(": A0 05 FF 00 0F 10")));
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 A0 05 FF 00 0F 10"));
    }

    // Both boxes come out as if each byte had been added by the rule, for texts with spaces,
    // line breaks or nothing at either end.
    void trimmingMatchesTheRule_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("after");
        const auto row = [](const char* name, const QString& before, const char* hex,
                            const QString& after) {
            QTest::newRow(name) << before << QByteArray::fromHex(hex) << after;
        };
        row("empty, one byte", "", "0A", " 0A");
        row("empty, two bytes", "", "0AFF", "0A FF");
        row("empty, three bytes", "", "0AFF00", "0A FF 00");
        row("one entry, one more", " 0A", "FF", "0A FF");
        row("design text", "Text4", "0A", "Text4 0A");
        row("ends in CR LF", "ab\r\n", "0A", "ab\r\n 0A");
        row("spaces after CR LF", "ab\r\n  ", "0A", "ab\r\n 0A");
        row("spaces at both ends", "  x  ", "01", "x 01");
        row("spaces only, one byte", "   ", "01", " 01");
        row("spaces only, two bytes", "   ", "0102", "01 02");
        row("spaces around a break", "  \r\n  ", "01", "\r\n 01");
        row("long runs of spaces", QString(100, u' ') + u'x' + QString(40, u' '), "01", "x 01");
        row("spaces only, long", QString(70, u' '), "01", " 01");
        row("values", "", "000F10FF", "00 0F 10 FF");
    }

    void trimmingMatchesTheRule() {
        QFETCH(QString, before);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, after);
        Rig rig;
        rig.toolkit.texts[Control::Text1] = before;
        rig.toolkit.texts[Control::Text4] = before;
        rig.arrive(Bytes(bytes.begin(), bytes.end()));
        QCOMPARE(rig.toolkit.texts[Control::Text1], after);
        QCOMPARE(rig.toolkit.texts[Control::Text4], after);
    }

    // Random texts made of spaces, letters and line breaks, random bursts: the boxes always
    // equal the rule applied byte by byte.
    void randomTextsMatchTheRule() {
        QRandomGenerator random(20261207);
        const QString alphabet = QStringLiteral("  a\r\n");
        for (int round = 0; round < 2000; ++round) {
            QString before;
            const int length = random.bounded(8);
            for (int i = 0; i < length; ++i) {
                before += alphabet[random.bounded(alphabet.size())];
            }
            Bytes bytes(static_cast<std::size_t>(random.bounded(4)));
            for (auto& byte : bytes) {
                byte = static_cast<std::uint8_t>(random.bounded(256));
            }
            Rig rig;
            rig.toolkit.texts[Control::Text1] = before;
            rig.arrive(bytes);
            QCOMPARE(rig.toolkit.texts[Control::Text1], byByteRule(before, bytes));
        }
    }

    // Bytes that arrive after the count was read come with Input and are shown too.
    void bytesBeyondTheCountAreShown() {
        Rig rig;
        rig.device.receive({0x01});
        rig.device.arriveDuringInput({0x02, 0x03});
        rig.device.raise(logic::kComEvReceive);
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 01 02 03"));
        QCOMPARE(rig.toolkit.texts[Control::Text1], QStringLiteral("01 02 03"));
    }

    // A burst is one edit per box, however long the boxes are.
    void oneEditPerBoxPerEvent() {
        Rig rig;
        rig.toolkit.texts[Control::Text1] = QString(100000, u'x');
        rig.arrive(Bytes(1024, 0x55));
        QCOMPARE(rig.toolkit.endEdits[Control::Text1], 1);
        QCOMPARE(rig.toolkit.endEdits[Control::Text4], 1);
        QCOMPARE(rig.toolkit.texts[Control::Text1].size(), 100000 + 3 * 1024);
    }

    void bytesWithoutASendAreShown() {
        Rig rig;
        rig.logic.Command4_Click();
        rig.arrive({0x7E});
        QCOMPARE(rig.toolkit.texts[Control::Text1], QStringLiteral(" 7E"));
    }

    void failingReadIsReportedOnce() {
        Rig rig;
        rig.device.failOnce("Input", 8103, QStringLiteral("读取 /dev/ttyUSB0 失败"));
        rig.arrive({0x01});
        QCOMPARE(rig.toolkit.messages, QStringList{"读取 /dev/ttyUSB0 失败"});
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4"));
        // The bytes stayed in the device and come with the next event.
        rig.arrive({0x02});
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 01 02"));
    }
};

QTEST_GUILESS_MAIN(TestReceivePath)
#include "tst_receive_path.moc"

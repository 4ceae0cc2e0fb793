// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>
#include <array>
#include <optional>
#include <vector>

#include "codec/hex_codec.h"
#include "codec/relay_frames.h"

using codec::ChannelOp;
using codec::Frame;

class TestRelayFrames : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every text of the table converts to a whole frame of its kind whose last byte is its
    // checksum, and is written in canonical form.
    void tableTextsAreWholeFrames() {
        for (const codec::CommandText& entry : codec::kCommandTexts) {
            const QString name = QString::fromStdU16String(std::u16string(entry.text));
            std::vector<std::uint8_t> frame;
            const int count = codec::strHexToByteArray(entry.text, frame);
            const bool allChannels = entry.frame == Frame::AllOn || entry.frame == Frame::AllOff;
            QVERIFY2(count == static_cast<int>(allChannels ? codec::kAllChannelsFrameSize
                                                           : codec::kChannelFrameSize),
                     qPrintable(name));
            QVERIFY2(codec::hasValidChecksum(frame), qPrintable(name));
            QCOMPARE(codec::canonicalCommandText(frame), entry.text);
            QCOMPARE(codec::commandText(entry.frame), entry.text);
        }
    }

    void channelFramesMatchTable_data() {
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("frame");
        QTest::newRow("1 on") << 1 << int(ChannelOp::On) << int(Frame::Channel1On);
        QTest::newRow("1 off") << 1 << int(ChannelOp::Off) << int(Frame::Channel1Off);
        QTest::newRow("1 reverse") << 1 << int(ChannelOp::Reverse) << int(Frame::Channel1Reverse);
        QTest::newRow("2 on") << 2 << int(ChannelOp::On) << int(Frame::Channel2On);
        QTest::newRow("2 off") << 2 << int(ChannelOp::Off) << int(Frame::Channel2Off);
        QTest::newRow("2 reverse") << 2 << int(ChannelOp::Reverse) << int(Frame::Channel2Reverse);
    }

    void channelFramesMatchTable() {
        QFETCH(int, channel);
        QFETCH(int, op);
        QFETCH(int, frame);
        const auto bytes =
            codec::channelFrame(static_cast<std::uint8_t>(channel), static_cast<ChannelOp>(op));
        QCOMPARE(codec::canonicalCommandText(bytes), codec::commandText(static_cast<Frame>(frame)));
    }

    void checksumExamples() {
        const std::array<std::uint8_t, 3> reverse2{0xA0, 0x02, 0x04};
        QCOMPARE(codec::channelChecksum(reverse2), std::uint8_t{0xA6});
        const std::array<std::uint8_t, 6> allOn{0x24, 0x01, 0x04, 0x01, 0x02, 0x02};
        QCOMPARE(codec::allChannelsChecksum(allOn), std::uint8_t{0x2E});
        // The sum wraps at 256.
        const std::array<std::uint8_t, 3> wrap{0xA0, 0xFF, 0x04};
        QCOMPARE(codec::channelChecksum(wrap), std::uint8_t{0xA3});
    }

    void invalidFrames_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("wrong checksum") << QByteArray::fromHex("A00103A5");
        QTest::newRow("wrong all-channels checksum") << QByteArray::fromHex("2401040102022F");
        QTest::newRow("too short") << QByteArray::fromHex("A001A1");
        QTest::newRow("channel frame too long") << QByteArray::fromHex("A00103A4A4");
        QTest::newRow("unknown start byte") << QByteArray::fromHex("A10103A5");
        QTest::newRow("empty") << QByteArray();
    }

    void invalidFrames() {
        QFETCH(QByteArray, frame);
        const std::vector<std::uint8_t> bytes(frame.begin(), frame.end());
        QVERIFY(!codec::hasValidChecksum(bytes));
    }

    // A frame is known by its length and every byte but the checksum, right or wrong.
    void frameOf_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("frame");     // -1: no relay frame
        QTest::addColumn<int>("checksum");  // -1: none belongs to these bytes
        const auto row = [](const char* name, const char* hex, int frame, int checksum) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << frame << checksum;
        };
        row("1 on", "A00103A4", int(Frame::Channel1On), 0xA4);
        row("1 off, wrong checksum", "A00102FF", int(Frame::Channel1Off), 0xA3);
        row("1 reverse", "A00104A5", int(Frame::Channel1Reverse), 0xA5);
        row("2 on", "A00203A5", int(Frame::Channel2On), 0xA5);
        row("2 off", "A00202A4", int(Frame::Channel2Off), 0xA4);
        row("2 reverse, wrong checksum", "A0020400", int(Frame::Channel2Reverse), 0xA6);
        row("all on", "2401040102022E", int(Frame::AllOn), 0x2E);
        row("all off, wrong checksum", "2401040101012D", int(Frame::AllOff), 0x2C);
        row("channel 3", "A00303A6", -1, 0xA6);
        row("operation 05", "A00105A6", -1, 0xA6);
        row("all-channels frame of neither kind", "2401040102012D", -1, 0x2D);
        row("channel frame one byte short", "A00103", -1, -1);
        row("channel frame one byte long", "A00103A4A4", -1, -1);
        row("unknown start byte", "A10103A5", -1, -1);
        row("one byte", "A0", -1, -1);
        row("empty", "", -1, -1);
    }

    void frameOf() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, frame);
        QFETCH(int, checksum);
        const std::vector<std::uint8_t> v(bytes.begin(), bytes.end());
        const std::optional<Frame> found = codec::frameOf(v);
        QCOMPARE(found ? int(*found) : -1, frame);
        const std::optional<std::uint8_t> expected = codec::expectedChecksum(v);
        QCOMPARE(expected ? int(*expected) : -1, checksum);
    }
};

QTEST_GUILESS_MAIN(TestRelayFrames)
#include "tst_relay_frames.moc"

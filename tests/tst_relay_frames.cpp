#include <QTest>
#include <array>
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
};

QTEST_GUILESS_MAIN(TestRelayFrames)
#include "tst_relay_frames.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>
#include <vector>

#include "sim/relay_board.h"

using sim::RelayBoard;

namespace {

QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

std::span<const std::uint8_t> bytesOf(const QByteArray& bytes) {
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

QByteArray toByteArray(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())};
}

}  // namespace

class TestRelayBoard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each row feeds its reads in turn to a board whose relays start off.
    void frames_data() {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("relay1");
        QTest::addColumn<bool>("relay2");
        QTest::addColumn<int>("accepted");
        QTest::addColumn<int>("rejected");

        using Reads = QList<QByteArray>;
        QTest::newRow("1 on") << Reads{hex("A00103A4")} << hex("A00103A4") << true << false << 1
                              << 0;
        QTest::newRow("2 on") << Reads{hex("A00203A5")} << hex("A00203A5") << false << true << 1
                              << 0;
        QTest::newRow("1 on, 1 off") << Reads{hex("A00103A4"), hex("A00102A3")}
                                     << hex("A00103A4A00102A3") << false << false << 2 << 0;
        QTest::newRow("2 on, 2 off") << Reads{hex("A00203A5"), hex("A00202A4")}
                                     << hex("A00203A5A00202A4") << false << false << 2 << 0;
        QTest::newRow("off when off stays off")
            << Reads{hex("A00102A3")} << hex("A00102A3") << false << false << 1 << 0;
        QTest::newRow("1 reverse")
            << Reads{hex("A00104A5")} << hex("A00104A5") << true << false << 1 << 0;
        QTest::newRow("1 reverse twice toggles back")
            << Reads{hex("A00104A5A00104A5")} << hex("A00104A5A00104A5") << false << false << 2
            << 0;
        QTest::newRow("2 reverse three times")
            << Reads{hex("A00204A6"), hex("A00204A6"), hex("A00204A6")}
            << hex("A00204A6A00204A6A00204A6") << false << true << 3 << 0;
        QTest::newRow("all on") << Reads{hex("2401040102022E")} << hex("2401040102022E") << true
                                << true << 1 << 0;
        QTest::newRow("all on, then all off")
            << Reads{hex("2401040102022E"), hex("2401040101012C")}
            << hex("2401040102022E2401040101012C") << false << false << 2 << 0;
        QTest::newRow("all channels: one on, one off")
            << Reads{hex("2401040102012D")} << hex("2401040102012D") << true << false << 1 << 0;
        QTest::newRow("wrong checksum")
            << Reads{hex("A00103A5")} << QByteArray() << false << false << 0 << 1;
        QTest::newRow("wrong all-channels checksum")
            << Reads{hex("2401040102022F")} << QByteArray() << false << false << 0 << 1;
        QTest::newRow("rejected frame leaves the relays")
            << Reads{hex("A00103A4"), hex("A00102A4")} << hex("A00103A4") << true << false << 1
            << 1;
        QTest::newRow("unknown channel")
            << Reads{hex("A00303A6")} << QByteArray() << false << false << 0 << 1;
        QTest::newRow("unknown operation")
            << Reads{hex("A00105A6")} << QByteArray() << false << false << 0 << 1;
        QTest::newRow("unknown state byte")
            << Reads{hex("2401040103022F")} << QByteArray() << false << false << 0 << 1;
        QTest::newRow("garbage between frames")
            << Reads{hex("0011FF"), hex("A00103A4"), hex("5566"), hex("A00203A5"), hex("77")}
            << hex("A00103A4A00203A5") << true << true << 2 << 0;
        QTest::newRow("garbage in the same read")
            << Reads{hex("13A00103A45566A00203A577")} << hex("A00103A4A00203A5") << true << true
            << 2 << 0;
        QTest::newRow("frame split over two reads")
            << Reads{hex("A001"), hex("03A4")} << hex("A00103A4") << true << false << 1 << 0;
        QTest::newRow("all-channels frame split over three reads")
            << Reads{hex("24"), hex("01040102"), hex("022E")} << hex("2401040102022E") << true
            << true << 1 << 0;
        QTest::newRow("split across frames") << Reads{hex("A00103A4A0"), hex("0203A5")}
                                             << hex("A00103A4A00203A5") << true << true << 2 << 0;
        QTest::newRow("good frame found behind a false start")
            << Reads{hex("A0A00103A4")} << hex("A00103A4") << true << false << 1 << 1;
        QTest::newRow("good frame inside a rejected all-channels frame")
            << Reads{hex("24A00203A5"), hex("0000")} << hex("A00203A5") << false << true << 1 << 1;
        QTest::newRow("incomplete frame waits")
            << Reads{hex("A00103")} << QByteArray() << false << false << 0 << 0;
    }

    void frames() {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QByteArray, reply);
        QFETCH(bool, relay1);
        QFETCH(bool, relay2);
        QFETCH(int, accepted);
        QFETCH(int, rejected);

        RelayBoard board;
        QByteArray sent;
        QByteArray acceptedFrames;
        std::size_t rejectedInResults = 0;
        for (const QByteArray& read : reads) {
            const RelayBoard::Result result = board.feed(bytesOf(read));
            sent += toByteArray(result.reply);
            for (const std::vector<std::uint8_t>& frame : result.accepted) {
                acceptedFrames += toByteArray(frame);
            }
            rejectedInResults += result.rejected;
        }
        QCOMPARE(sent.toHex(' '), reply.toHex(' '));
        // The board echoes exactly the frames it accepted.
        QCOMPARE(acceptedFrames.toHex(' '), reply.toHex(' '));
        QCOMPARE(board.relayOn(1), relay1);
        QCOMPARE(board.relayOn(2), relay2);
        QCOMPARE(board.acceptedFrames(), std::size_t(accepted));
        QCOMPARE(board.rejectedFrames(), std::size_t(rejected));
        QCOMPARE(rejectedInResults, std::size_t(rejected));
    }

    void skippedBytesAreCounted() {
        RelayBoard board;
        board.feed(bytesOf(hex("0011FFA00103A45566")));
        QCOMPARE(board.skippedBytes(), std::size_t(5));
    }

    void silentBoardSwitchesWithoutAnswering() {
        RelayBoard board;
        board.setSilent(true);
        const RelayBoard::Result result = board.feed(bytesOf(hex("A00103A42401040102022E")));
        QVERIFY(result.reply.empty());
        QCOMPARE(result.accepted.size(), std::size_t(2));
        QVERIFY(board.relayOn(1));
        QVERIFY(board.relayOn(2));

        board.setSilent(false);
        QCOMPARE(toByteArray(board.feed(bytesOf(hex("A00102A3"))).reply), hex("A00102A3"));
    }

    void relaysOutsideTheBoardAreOff() {
        RelayBoard board;
        board.feed(bytesOf(hex("2401040102022E")));
        QVERIFY(!board.relayOn(0));
        QVERIFY(!board.relayOn(3));
    }
};

QTEST_GUILESS_MAIN(TestRelayBoard)
#include "tst_relay_board.moc"

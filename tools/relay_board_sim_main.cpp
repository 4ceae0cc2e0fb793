// SPDX-License-Identifier: GPL-3.0-or-later
// relay-board-sim: creates a pseudo-terminal, prints its slave path on standard output (one line,
// flushed at once) and serves the simulated relay board (sim/relay_board.h) on it until it is
// killed or hangs up. Point the program at the path and it finds a board that echoes every frame
// it accepts. Everything the options ask for starts at the first accepted frame, so a test or a
// benchmark can open the port first; bytes sent before the port is opened would be discarded by
// the open.

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "codec/hex_codec.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"

namespace {

// How often a paced stream hands the bytes that have become due to the line.
constexpr int kPaceIntervalMs = 10;
// A flood is queued a piece at a time, the next when the line has taken the last, so any size
// fits in memory.
constexpr qint64 kFloodPiece = 1 << 20;

// `count` bytes of the stream whose byte i is i modulo 256, from byte `first` on: the receiving
// side can check that every byte arrived, in order.
QByteArray streamBytes(qint64 first, qint64 count) {
    QByteArray bytes(static_cast<qsizetype>(count), Qt::Uninitialized);
    for (qint64 i = 0; i < count; ++i) {
        bytes[static_cast<qsizetype>(i)] = static_cast<char>((first + i) & 0xFF);
    }
    return bytes;
}

// Reads the whole number `option` gives, if it is set, into `value`; false when it is not a whole
// number from `minimum` to `maximum`.
bool readNumber(const QCommandLineParser& parser, const QCommandLineOption& option, qint64 minimum,
                qint64 maximum, std::optional<qint64>& value) {
    if (!parser.isSet(option)) {
        return true;
    }
    bool ok = false;
    const qint64 number = parser.value(option).toLongLong(&ok);
    if (!ok || number < minimum || number > maximum) {
        std::fprintf(stderr, "relay-board-sim: --%s takes a whole number from %lld to %lld\n",
                     qPrintable(option.names().constFirst()), minimum, maximum);
        return false;
    }
    value = number;
    return true;
}

QString hexText(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("relay-board-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves a simulated two-channel relay board on a new pseudo-terminal and prints its path.\n"
        "The board echoes every frame it accepts (this simulator's own convention). The options\n"
        "below act once the first frame has been accepted."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption silent(QStringLiteral("silent"),
                                    QStringLiteral("Accept frames without echoing them."));
    const QCommandLineOption sendHex(QStringLiteral("send-hex"),
                                     QStringLiteral("Send these bytes, written as hexadecimal "
                                                    "pairs (\"A0 01 03 A4\")."),
                                     QStringLiteral("TEXT"));
    const QCommandLineOption flood(QStringLiteral("flood"),
                                   QStringLiteral("Send this many bytes (byte i is i modulo 256), "
                                                  "as fast as the line takes them."),
                                   QStringLiteral("BYTES"));
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  QStringLiteral("Pace the stream at this many bytes per second; "
                                                 "without --flood the stream does not end."),
                                  QStringLiteral("BYTES_PER_SECOND"));
    const QCommandLineOption hangUpAfter(QStringLiteral("hang-up-after-ms"),
                                         QStringLiteral("Hang the line up this many milliseconds "
                                                        "later, then exit."),
                                         QStringLiteral("N"));
    const QCommandLineOption floodOnInput(
        QStringLiteral("flood-on-input"),
        QStringLiteral("Each line read from standard input sends the --flood bytes once more, the "
                       "stream going on where it stopped, so a benchmark can start a second flood "
                       "onto the same line when it is ready for it."));
    parser.addOptions({silent, sendHex, flood, rate, hangUpAfter, floodOnInput});
    parser.process(app);

    std::optional<qint64> floodBytes;
    std::optional<qint64> bytesPerSecond;
    std::optional<qint64> hangUpMs;
    constexpr qint64 kMost = std::numeric_limits<qint32>::max();
    if (!readNumber(parser, flood, 0, std::numeric_limits<qint64>::max(), floodBytes) ||
        !readNumber(parser, rate, 1, kMost, bytesPerSecond) ||
        !readNumber(parser, hangUpAfter, 0, kMost, hangUpMs)) {
        return 2;
    }
    if (parser.isSet(floodOnInput) && (!floodBytes || bytesPerSecond)) {
        std::fputs("relay-board-sim: --flood-on-input needs --flood and no --rate\n", stderr);
        return 2;
    }
    QByteArray extraBytes;
    if (parser.isSet(sendHex)) {
        std::vector<std::uint8_t> bytes;
        const std::u16string text = parser.value(sendHex).toStdU16String();
        if (codec::strHexToByteArray(text, bytes) == 0) {
            std::fputs("relay-board-sim: --send-hex holds no hexadecimal pair\n", stderr);
            return 2;
        }
        extraBytes = QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                static_cast<qsizetype>(bytes.size()));
    }

    sim::PseudoTerminal terminal;
    if (!terminal.isOpen()) {
        std::fprintf(stderr, "relay-board-sim: cannot create a pseudo-terminal: %s\n",
                     qPrintable(terminal.errorString()));
        return 1;
    }
    sim::RelayBoardSim board(terminal);
    board.setSilent(parser.isSet(silent));

    QObject::connect(
        &board, &sim::RelayBoardSim::frameAccepted, &app, [&board](const QByteArray& frame) {
            std::fprintf(stderr, "relay-board-sim: accepted %s; relay 1 %s, relay 2 %s\n",
                         qPrintable(hexText(frame)), board.board().relayOn(1) ? "on" : "off",
                         board.board().relayOn(2) ? "on" : "off");
        });
    QObject::connect(&board, &sim::RelayBoardSim::frameRejected, &app,
                     [] { std::fputs("relay-board-sim: rejected a frame\n", stderr); });
    QObject::connect(&board, &sim::RelayBoardSim::lineClosed, &app, [] {
        std::fputs("relay-board-sim: the line failed\n", stderr);
        QCoreApplication::exit(1);
    });

    // The stream of --flood and --rate: the bytes queued so far (over every flood), where the
    // current flood ends, and when pacing started.
    qint64 streamed = 0;
    qint64 floodEnd = floodBytes.value_or(0);
    QElapsedTimer pacingClock;
    QTimer pacer;
    pacer.setInterval(kPaceIntervalMs);
    QObject::connect(&pacer, &QTimer::timeout, &app, [&] {
        // Everything due by now, so the average rate is exact whatever the timer's jitter.
        qint64 due = *bytesPerSecond * pacingClock.elapsed() / 1000;
        if (floodBytes) {
            due = std::min(due, *floodBytes);
        }
        board.send(streamBytes(streamed, due - streamed));
        streamed = due;
        if (floodBytes && streamed == *floodBytes) {
            pacer.stop();
        }
    });
    bool flooding = false;
    const auto queueFloodPiece = [&] {
        const qint64 piece = std::min(kFloodPiece, floodEnd - streamed);
        flooding = streamed + piece < floodEnd;
        const qint64 first = streamed;
        streamed += piece;
        board.send(streamBytes(first, piece));
    };
    QObject::connect(&board, &sim::RelayBoardSim::outputDrained, &app, [&] {
        if (flooding) {
            queueFloodPiece();
        }
    });

    bool started = false;
    QObject::connect(&board, &sim::RelayBoardSim::frameAccepted, &app, [&] {
        if (started) {
            return;
        }
        started = true;
        board.send(extraBytes);
        if (bytesPerSecond) {
            pacingClock.start();
            pacer.start();
        } else if (floodBytes) {
            queueFloodPiece();
        }
        if (hangUpMs) {
            QTimer::singleShot(static_cast<int>(*hangUpMs), &app, [&board] {
                board.hangUp();
                std::fputs("relay-board-sim: hung up\n", stderr);
                QCoreApplication::quit();
            });
        }
    });

    // Lines on standard input, read as they come; a flood asked for while one runs follows it.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    input.setEnabled(parser.isSet(floodOnInput));
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            return;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (buffer[i] != '\n') {
                continue;
            }
            floodEnd += *floodBytes;
            if (started && !flooding) {
                queueFloodPiece();
            }
        }
    });

    std::printf("%s\n", qPrintable(terminal.slavePath()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

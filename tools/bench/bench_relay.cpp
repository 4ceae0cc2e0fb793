// SPDX-License-Identifier: GPL-3.0-or-later
// zeva-relay's round trip against its floor. It starts relay-board-sim (which echoes every frame
// it accepts) and, on its pseudo-terminal, runs as child processes one after the other:
//   - zeva-relay --expect echo, channel 1 on and off repeated until --frames frames have gone
//     out, each echo checked;
//   - the floor: this program again with --floor, a bare QSerialPort loop that writes the same
//     frames and waits for each echo with waitForReadyRead, checking it and nothing else.
// For each it reports the CPU time per frame (the child's utime + stime, from the kernel's
// account of reaped children, start-up included) and the wall time per round trip (start to
// exit, divided by the frames), and the ratios of the program to the floor.
//
// Usage: bench_relay --sim PATH/relay-board-sim --relay PATH/zeva-relay [--frames N]
// Prints "relay_cpu_us_per_frame V", "relay_wall_us_per_round_trip V", the same for floor_, and
// "cpu_ratio V", "wall_ratio V"; exits non-zero when a run fails or an echo is wrong.

#include <sys/resource.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSerialPort>
#include <cstdio>

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "bench_relay: %s\n", what);
    return 1;
}

double childrenCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The floor's loop: each frame written whole, then read until its echo is complete.
int floorLoop(const QString& path, qint64 frames) {
    const QByteArray on = QByteArray::fromHex("A00103A4");
    const QByteArray off = QByteArray::fromHex("A00102A3");
    QSerialPort port(path);
    port.setBaudRate(QSerialPort::Baud9600);
    if (!port.open(QIODevice::ReadWrite)) {
        return fail("the floor's port did not open");
    }
    for (qint64 i = 0; i < frames; ++i) {
        const QByteArray& frame = i % 2 == 0 ? on : off;
        port.write(frame);
        if (!port.waitForBytesWritten(5000)) {
            return fail("the floor's write did not finish");
        }
        QByteArray echo;
        while (echo.size() < frame.size()) {
            if (port.bytesAvailable() == 0 && !port.waitForReadyRead(5000)) {
                return fail("the floor got no echo");
            }
            echo += port.readAll();
        }
        if (echo != frame) {
            return fail("the floor got a wrong echo");
        }
    }
    return 0;
}

struct Figures {
    double cpuUsPerFrame = 0;
    double wallUsPerRoundTrip = 0;
};

// Runs `program` with `arguments` to its end; false when it fails.
bool measure(const QString& program, const QStringList& arguments, qint64 frames,
             Figures& figures) {
    QProcess child;
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double cpuBefore = childrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    child.start(program, arguments);
    if (!child.waitForFinished(600000) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        return false;
    }
    const auto wallUs = static_cast<double>(clock.nsecsElapsed()) / 1e3;
    figures.cpuUsPerFrame = (childrenCpuSeconds() - cpuBefore) * 1e6 / static_cast<double>(frames);
    figures.wallUsPerRoundTrip = wallUs / static_cast<double>(frames);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("relay-board-sim"),
                                       QStringLiteral("PATH"));
    const QCommandLineOption relayOption(QStringLiteral("relay"), QStringLiteral("zeva-relay"),
                                         QStringLiteral("PATH"));
    const QCommandLineOption framesOption(QStringLiteral("frames"),
                                          QStringLiteral("Echoed frames per run (even)"),
                                          QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption floorOption(QStringLiteral("floor"),
                                         QStringLiteral("Run the floor's loop on PORT"),
                                         QStringLiteral("PORT"));
    parser.addOptions({simOption, relayOption, framesOption, floorOption});
    parser.process(application);
    const qint64 frames = parser.value(framesOption).toLongLong();
    if (frames <= 0 || frames % 2 != 0) {
        return fail("--frames takes an even number above 0");
    }
    if (parser.isSet(floorOption)) {
        return floorLoop(parser.value(floorOption), frames);
    }
    if (!parser.isSet(simOption) || !parser.isSet(relayOption)) {
        return fail("usage: bench_relay --sim PATH --relay PATH [--frames N]");
    }

    QProcess board;
    board.setStandardErrorFile(QProcess::nullDevice());
    board.start(parser.value(simOption), QStringList{});
    if (!board.waitForReadyRead(10000)) {
        return fail("relay-board-sim did not start");
    }
    const QString path = QString::fromLocal8Bit(board.readLine().trimmed());

    Figures relay;
    if (!measure(parser.value(relayOption),
                 {"--port", path, "--expect", "echo", "--quiet", "--repeat",
                  QString::number(frames / 2), "1", "on", "1", "off"},
                 frames, relay)) {
        return fail("zeva-relay failed");
    }
    Figures floor;
    if (!measure(QCoreApplication::applicationFilePath(),
                 {"--floor", path, "--frames", QString::number(frames)}, frames, floor)) {
        return fail("the floor failed");
    }
    board.kill();
    board.waitForFinished();

    std::printf("relay_cpu_us_per_frame %.2f\n", relay.cpuUsPerFrame);
    std::printf("relay_wall_us_per_round_trip %.2f\n", relay.wallUsPerRoundTrip);
    std::printf("floor_cpu_us_per_frame %.2f\n", floor.cpuUsPerFrame);
    std::printf("floor_wall_us_per_round_trip %.2f\n", floor.wallUsPerRoundTrip);
    std::printf("cpu_ratio %.3f\n", relay.cpuUsPerFrame / floor.cpuUsPerFrame);
    std::printf("wall_ratio %.3f\n", relay.wallUsPerRoundTrip / floor.wallUsPerRoundTrip);
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of the flood and line-rate benchmarks: the least a Qt program pays to take in a
// stream of the simulated board, with nothing shown. It starts relay-board-sim as bench_flood
// does, opens its pseudo-terminal with QSerialPort at 9600,N,8,1, writes channel 1's "on" frame,
// and reads every byte as readyRead reports it, checking each (byte i is i modulo 256) and
// throwing it away. The figure is this process's CPU time (utime + stime) from the write until
// the last byte is read, comparable to bench_flood's for the same options:
//   flood (default): --flood BYTES (1 MiB) as fast as the line takes them; prints
//     "floor_flood_cpu_s_per_mib VALUE", against bench_flood's flood_cpu_s_per_mib.
//   --rate BYTES_PER_SECOND --seconds N: the paced stream; prints "floor_rate_cpu_s VALUE",
//     against bench_flood's rate_cpu_s.
//
// Usage: read_floor --sim PATH/relay-board-sim [--flood BYTES | --rate R --seconds N]
// Also prints "floor_reads N"; exits non-zero when a byte is wrong.

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>

#include "bench_common.h"

namespace {

constexpr qint64 kMiB = qint64{1024} * 1024;

int fail(const char* what) {
    std::fprintf(stderr, "read_floor: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("relay-board-sim"),
                                       QStringLiteral("PATH"));
    const QCommandLineOption floodOption(QStringLiteral("flood"), QStringLiteral("Flood size"),
                                         QStringLiteral("BYTES"), QString::number(kMiB));
    const QCommandLineOption rateOption(QStringLiteral("rate"), QStringLiteral("Bytes a second"),
                                        QStringLiteral("BYTES_PER_SECOND"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("The stream's length"),
                                           QStringLiteral("N"), QStringLiteral("30"));
    parser.addOptions({simOption, floodOption, rateOption, secondsOption});
    parser.process(application);
    const bool paced = parser.isSet(rateOption);
    const qint64 streamBytes =
        paced ? parser.value(rateOption).toLongLong() * parser.value(secondsOption).toLongLong()
              : parser.value(floodOption).toLongLong();
    if (!parser.isSet(simOption) || streamBytes <= 0) {
        return fail("usage: read_floor --sim PATH [--flood BYTES | --rate R --seconds N]");
    }

    QProcess board;
    board.setStandardErrorFile(QProcess::nullDevice());
    QStringList boardArguments{QStringLiteral("--silent"), QStringLiteral("--flood"),
                               QString::number(streamBytes)};
    if (paced) {
        boardArguments << QStringLiteral("--rate") << parser.value(rateOption);
    }
    board.start(parser.value(simOption), boardArguments);
    if (!board.waitForReadyRead(10000)) {
        return fail("relay-board-sim did not start");
    }

    QSerialPort port(QString::fromLocal8Bit(board.readLine().trimmed()));
    port.setBaudRate(QSerialPort::Baud9600);
    if (!port.open(QIODevice::ReadWrite)) {
        return fail("the port did not open");
    }
    qint64 received = 0;
    qint64 reads = 0;
    bool wrong = false;
    QObject::connect(&port, &QSerialPort::readyRead, &application, [&] {
        const QByteArray bytes = port.readAll();
        ++reads;
        for (const char byte : bytes) {
            wrong = wrong || static_cast<unsigned char>(byte) != received % 256;
            ++received;
        }
        if (received >= streamBytes) {
            QCoreApplication::quit();
        }
    });
    QTimer::singleShot(static_cast<int>(streamBytes) * 10 + 60000, &application,
                       [] { QCoreApplication::exit(2); });

    const double cpuBefore = bench::cpuSeconds();
    port.write(QByteArray::fromHex("A00103A4"));
    if (QCoreApplication::exec() != 0) {
        return fail("the stream did not arrive in time");
    }
    const double cpu = bench::cpuSeconds() - cpuBefore;
    if (wrong || received != streamBytes) {
        return fail("a byte is missing or out of order");
    }
    if (paced) {
        std::printf("floor_rate_cpu_s %.3f\n", cpu);
    } else {
        std::printf("floor_flood_cpu_s_per_mib %.4f\n",
                    cpu / (static_cast<double>(streamBytes) / kMiB));
    }
    std::printf("floor_reads %lld\n", static_cast<long long>(reads));
    board.kill();
    board.waitForFinished();
    return 0;
}

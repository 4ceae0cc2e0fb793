// SPDX-License-Identifier: GPL-3.0-or-later
// The floor of the line-rate benchmark: the least a Qt program pays to take in the paced stream
// of the simulated board, with nothing shown. It starts relay-board-sim as bench_flood does,
// opens its pseudo-terminal with QSerialPort at 9600,N,8,1, writes channel 1's "on" frame, and
// reads every byte as readyRead reports it, checking each (byte i is i modulo 256) and throwing
// it away. The figure is this process's CPU time (utime + stime) from the write until the last
// byte is read, comparable to bench_flood's rate_cpu_s for the same --rate and --seconds.
//
// Usage: read_floor --sim PATH/relay-board-sim [--rate BYTES_PER_SECOND] [--seconds N]
// Prints "floor_rate_cpu_s VALUE" and "floor_reads N"; exits non-zero when a byte is wrong.

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
    const QCommandLineOption rateOption(QStringLiteral("rate"), QStringLiteral("Bytes a second"),
                                        QStringLiteral("BYTES_PER_SECOND"), QStringLiteral("960"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("The stream's length"),
                                           QStringLiteral("N"), QStringLiteral("30"));
    parser.addOptions({simOption, rateOption, secondsOption});
    parser.process(application);
    const qint64 streamBytes =
        parser.value(rateOption).toLongLong() * parser.value(secondsOption).toLongLong();
    if (!parser.isSet(simOption) || streamBytes <= 0) {
        return fail("usage: read_floor --sim PATH [--rate R] [--seconds N]");
    }

    QProcess board;
    board.setStandardErrorFile(QProcess::nullDevice());
    board.start(parser.value(simOption),
                {QStringLiteral("--silent"), QStringLiteral("--flood"),
                 QString::number(streamBytes), QStringLiteral("--rate"), parser.value(rateOption)});
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
    std::printf("floor_rate_cpu_s %.3f\n", cpu);
    std::printf("floor_reads %lld\n", static_cast<long long>(reads));
    board.kill();
    board.waitForFinished();
    return 0;
}

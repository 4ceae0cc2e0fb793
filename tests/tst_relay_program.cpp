// SPDX-License-Identifier: GPL-3.0-or-later
// zeva-relay, the program, against a pseudo-terminal: the exact bytes of each action and their
// order, the simulated board echoing, staying silent or answering wrong, pulse timing, a port
// held by the window or by minicom, a stop signal in an endless run, the line hung up mid-run,
// the port list as JSON, and the record.

#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>

#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"

namespace {

const QString kProgram = QStringLiteral(ZEVA_RELAY);
const QString kWindowProgram = QStringLiteral(ZEVA_RELAY_TEST);

struct Run {
    int status = -1;
    QStringList lines;  // standard output
    QString errors;     // standard error
    qint64 ms = 0;      // how long it ran
};

// Runs zeva-relay to its end while this process's event loop serves the simulated board.
Run runRelay(const QStringList& arguments, int timeoutMs = 30000) {
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    QElapsedTimer clock;
    clock.start();
    process.start(kProgram, arguments);
    if (!finished.wait(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {-1, {}, QStringLiteral("did not finish"), clock.elapsed()};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
            QString::fromUtf8(process.readAllStandardError()), clock.elapsed()};
}

// Everything waiting on the master of `terminal`, as hexadecimal pairs.
QString bytesOnLine(const sim::PseudoTerminal& terminal) {
    QByteArray bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(terminal.masterDescriptor(), buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        bytes.append(buffer, got);
    }
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// Field `index` of every line (0 time, 1 port, 2 action, 3 bytes, 4 result).
QStringList fields(const QStringList& lines, int index) {
    QStringList found;
    for (const QString& line : lines) {
        found << line.section(u'\t', index, index);
    }
    return found;
}

QStringList hexFrames(const QList<QByteArray>& frames) {
    QStringList texts;
    for (const QByteArray& frame : frames) {
        texts << QString::fromLatin1(frame.toHex(' ').toUpper());
    }
    return texts;
}

// A board on a pseudo-terminal, with every frame it accepted.
struct Board {
    Board() {
        QObject::connect(&board, &sim::RelayBoardSim::frameAccepted, &board,
                         [this](const QByteArray& frame) { accepted << frame; });
    }
    sim::PseudoTerminal terminal;
    sim::RelayBoardSim board{terminal};
    QList<QByteArray> accepted;
    QString path() const { return terminal.slavePath(); }
};

}  // namespace

class TestRelayProgram : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const QString why = support::whyNoPseudoTerminal();
        if (!why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
    }

    // Each action writes its frame and nothing else; several go out in the order given. The
    // pseudo-terminal keeps what was written until it is read.
    void exactBytes_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("wire");
        QTest::newRow("1 on") << QStringList{"1", "on"} << "A0 01 03 A4";
        QTest::newRow("1 off") << QStringList{"1", "off"} << "A0 01 02 A3";
        QTest::newRow("1 reverse") << QStringList{"1", "reverse"} << "A0 01 04 A5";
        QTest::newRow("2 on") << QStringList{"2", "on"} << "A0 02 03 A5";
        QTest::newRow("2 off") << QStringList{"2", "off"} << "A0 02 02 A4";
        QTest::newRow("2 reverse") << QStringList{"2", "reverse"} << "A0 02 04 A6";
        QTest::newRow("all on") << QStringList{"all", "on"} << "24 01 04 01 02 02 2E";
        QTest::newRow("all off") << QStringList{"all", "off"} << "24 01 04 01 01 01 2C";
        QTest::newRow("send") << QStringList{"send", "a0 0103 A4 ff"} << "A0 01 03 A4 FF";
        QTest::newRow("pulse") << QStringList{"pulse", "2", "10ms"} << "A0 02 03 A5 A0 02 02 A4";
        QTest::newRow("wait sends nothing") << QStringList{"wait", "10ms"} << "";
        QTest::newRow("1 on 2 off all on") << QStringList{"1", "on", "2", "off", "all", "on"}
                                           << "A0 01 03 A4 A0 02 02 A4 24 01 04 01 02 02 2E";
        QTest::newRow("repeated") << QStringList{"--repeat", "3", "1", "on"}
                                  << "A0 01 03 A4 A0 01 03 A4 A0 01 03 A4";
    }
    void exactBytes() {
        QFETCH(QStringList, actions);
        QFETCH(QString, wire);
        const sim::PseudoTerminal terminal;
        const Run run = runRelay(QStringList{"--port", terminal.slavePath()} + actions);
        QCOMPARE(run.status, 0);
        QCOMPARE(bytesOnLine(terminal), wire);
        QVERIFY(support::lockFilesFor(terminal.slavePath()).isEmpty());
    }

    // One line per frame: time, port, the action as written, its bytes, and "sent".
    void linesPerFrame() {
        const sim::PseudoTerminal terminal;
        const Run run = runRelay({"--port", terminal.slavePath(), "1", "on", "send", "A0 02 02 A4",
                                  "pulse", "all", "0ms"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.lines.size(), 4);
        for (const QString& line : run.lines) {
            QCOMPARE(line.count(u'\t'), 4);
            bool number = false;
            line.section(u'\t', 0, 0).toLongLong(&number);
            QVERIFY2(number, qPrintable(line));
        }
        QCOMPARE(fields(run.lines, 1), QStringList(4, terminal.slavePath()));
        QCOMPARE(fields(run.lines, 2),
                 (QStringList{"1 on", "send A0 02 02 A4", "pulse all 0ms", "pulse all 0ms"}));
        QCOMPARE(fields(run.lines, 3),
                 (QStringList{"A0 01 03 A4", "A0 02 02 A4", "24 01 04 01 02 02 2E",
                              "24 01 04 01 01 01 2C"}));
        QCOMPARE(fields(run.lines, 4), QStringList(4, "sent"));
        QVERIFY2(run.errors.contains(QStringLiteral("1 cycle(s), 4 frame(s), 0 failure(s)")),
                 qPrintable(run.errors));
        QCOMPARE(
            bytesOnLine(terminal),
            QStringLiteral("A0 01 03 A4 A0 02 02 A4 24 01 04 01 02 02 2E 24 01 04 01 01 01 2C"));
    }

    // A line that takes no more bytes (nobody reads the pseudo-terminal) fails the frame after
    // --timeout, instead of frames piling up in memory without end.
    void lineThatTakesNoMore() {
        const sim::PseudoTerminal terminal;
        const QString frame = QStringLiteral("A0 ").repeated(512).trimmed();
        const Run run = runRelay(
            {"--port", terminal.slavePath(), "--timeout", "300ms", "--repeat", "0", "send", frame});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.errors.contains(QStringLiteral("the line took no more bytes within 300ms")),
                 qPrintable(run.errors));
        QCOMPARE(fields(run.lines, 4).constLast(),
                 QStringLiteral("not sent: the line took no more bytes"));
        QVERIFY(support::lockFilesFor(terminal.slavePath()).isEmpty());
    }

    // A usage error is found before the port is touched: status 2 and nothing on the line.
    void usageErrorsSendNothing_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<QString>("message");
        QTest::newRow("3 on") << QStringList{"1", "on", "3", "on"} << "argument 5, '3'";
        QTest::newRow("wait -5ms")
            << QStringList{"1", "on", "wait", "-5ms"} << "argument 6, '-5ms'";
        QTest::newRow("send ZZ") << QStringList{"1", "on", "send", "ZZ"}
                                 << "argument 6, 'ZZ': converts to no byte at all";
        QTest::newRow("pulse 1") << QStringList{"1", "on", "pulse", "1"} << "needs a duration";
        QTest::newRow("--repeat -1")
            << QStringList{"--repeat", "-1", "1", "on"} << "argument 4, '-1'";
    }
    void usageErrorsSendNothing() {
        QFETCH(QStringList, actions);
        QFETCH(QString, message);
        const sim::PseudoTerminal terminal;
        const Run run = runRelay(QStringList{"--port", terminal.slavePath()} + actions);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
        QVERIFY(run.lines.isEmpty());
        QCOMPARE(bytesOnLine(terminal), QString());
    }

    void echoedRepeat() {
        Board board;
        const Run run = runRelay(
            {"--port", board.path(), "--expect", "echo", "--repeat", "50", "1", "on", "1", "off"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.lines.size(), 100);
        QCOMPARE(fields(run.lines, 4), QStringList(100, "echoed"));
        QCOMPARE(board.accepted.size(), 100);
        QVERIFY2(run.errors.contains(QStringLiteral("50 cycle(s), 100 frame(s), 0 failure(s)")),
                 qPrintable(run.errors));
    }

    // The relay stays on for the pulse's duration: measured by the program's own clock and by
    // the board's, with generous room above for a loaded machine.
    void pulseTiming() {
        Board board;
        QElapsedTimer clock;
        QList<qint64> acceptedAt;
        connect(&board.board, &sim::RelayBoardSim::frameAccepted, this,
                [&] { acceptedAt << clock.elapsed(); });
        clock.start();
        const Run run =
            runRelay({"--port", board.path(), "--expect", "echo", "pulse", "1", "300ms"});
        QCOMPARE(run.status, 0);
        QCOMPARE(fields(run.lines, 3), (QStringList{"A0 01 03 A4", "A0 01 02 A3"}));
        const qint64 written =
            fields(run.lines, 0)[1].toLongLong() - fields(run.lines, 0)[0].toLongLong();
        QVERIFY2(written >= 300 && written < 3000, qPrintable(QString::number(written)));
        QCOMPARE(acceptedAt.size(), 2);
        const qint64 seen = acceptedAt[1] - acceptedAt[0];
        QVERIFY2(seen >= 250 && seen < 3000, qPrintable(QString::number(seen)));
    }

    // A board that never answers: status 1 after the timeout, the frame named, and --at-exit
    // sent all the same.
    void silentBoard() {
        Board board;
        board.board.setSilent(true);
        const Run run = runRelay({"--port", board.path(), "--expect", "echo", "--timeout", "300ms",
                                  "--at-exit", "all off", "1", "on", "1", "off"});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.ms < 3000, qPrintable(QString::number(run.ms)));
        QCOMPARE(fields(run.lines, 2), (QStringList{"1 on", "all off"}));
        QCOMPARE(fields(run.lines, 4), (QStringList{"no reply", "no reply"}));
        QVERIFY2(run.errors.contains(QStringLiteral("frame 1, '1 on' (A0 01 03 A4)")) &&
                     run.errors.contains(QStringLiteral("no reply within 300ms")),
                 qPrintable(run.errors));
        QCOMPARE(hexFrames(board.accepted), (QStringList{"A0 01 03 A4", "24 01 04 01 01 01 2C"}));
    }

    void wrongReply_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("wrong checksum") << QByteArray::fromHex("A00103A5") << "A0 01 03 A5";
        QTest::newRow("first byte wrong, before the rest") << QByteArray::fromHex("55") << "55";
        QTest::newRow("too short") << QByteArray::fromHex("A001") << "A0 01";
    }
    void wrongReply() {
        QFETCH(QByteArray, reply);
        QFETCH(QString, shown);
        Board board;
        board.board.setSilent(true);
        connect(&board.board, &sim::RelayBoardSim::frameAccepted, this,
                [&] { board.board.send(reply); });
        const Run run = runRelay(
            {"--port", board.path(), "--expect", "echo", "--timeout", "1s", "1", "on", "1", "off"});
        QCOMPARE(run.status, 1);
        QCOMPARE(run.lines.size(), 1);
        QCOMPARE(fields(run.lines, 4), QStringList{u"wrong reply: " + shown});
        QVERIFY2(run.errors.contains(u"the board answered " + shown), qPrintable(run.errors));
    }

    // The window holds the port: status 3, the holder named, and nothing written.
    void portHeldByTheWindow() {
        const sim::PseudoTerminal terminal;
        QProcess window;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        window.setProcessEnvironment(environment);
        // The window's start-up probes the port before it opens it, letting the lock go between
        // the two: the record's "opened" line says the port is held for good.
        const QTemporaryDir folder;
        const QString record = folder.filePath(QStringLiteral("record"));
        window.start(kWindowProgram, {"--port", "COM1=" + terminal.slavePath(), "--log", record});
        QVERIFY(window.waitForStarted());
        QVERIFY(QTest::qWaitFor(
            [&] {
                QFile file(record);
                return file.open(QIODevice::ReadOnly) && file.readAll().contains("\topened\t");
            },
            20000));
        const Run run = runRelay({"--port", terminal.slavePath(), "1", "on"});
        const qint64 holder = window.processId();
        ::kill(static_cast<pid_t>(holder), SIGTERM);
        QVERIFY(window.waitForFinished(20000));
        QCOMPARE(run.status, 3);
        QVERIFY2(run.errors.contains(
                     QStringLiteral("is busy: held by zeva-relay-test (pid %1)").arg(holder)),
                 qPrintable(run.errors));
        QVERIFY(run.lines.isEmpty());
        QCOMPARE(bytesOnLine(terminal), QString());
    }

    // A terminal program holds the port through its lock file: status 3, minicom named.
    void portHeldByMinicom() {
        if (QStandardPaths::findExecutable(QStringLiteral("minicom")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty()) {
            QSKIP("minicom or script is not installed (scripts/setup test installs them)");
        }
        const sim::PseudoTerminal terminal;
        // minicom wants a terminal of its own; script gives it one, and its input stays open.
        QProcess minicom;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm"));
        minicom.setProcessEnvironment(environment);
        minicom.start(QStringLiteral("script"),
                      {"-qfc", "minicom -D " + terminal.slavePath(), "/dev/null"});
        QVERIFY(minicom.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(!support::lockFilesFor(terminal.slavePath()).isEmpty(), 20000);
        const QStringList locks = support::lockFilesFor(terminal.slavePath());
        QFile lock(locks.constFirst());
        QVERIFY(lock.open(QIODevice::ReadOnly));
        const auto holder = static_cast<pid_t>(lock.readAll().trimmed().split(' ').first().toInt());
        lock.close();
        const Run run = runRelay({"--port", terminal.slavePath(), "1", "on"});
        // minicom leaves its lock behind when its terminal hangs up; it is gone, so the lock goes.
        ::kill(holder, SIGKILL);
        minicom.kill();
        QVERIFY(minicom.waitForFinished(20000));
        QTRY_VERIFY(::kill(holder, 0) != 0);
        for (const QString& file : support::lockFilesFor(terminal.slavePath())) {
            QFile left(file);
            if (left.open(QIODevice::ReadOnly) &&
                left.readAll().trimmed().startsWith(QByteArray::number(holder))) {
                QFile::remove(file);
            }
        }
        QCOMPARE(run.status, 3);
        QVERIFY2(
            run.errors.contains(QStringLiteral("is busy: held by minicom (pid %1)").arg(holder)),
            qPrintable(run.errors));
        QCOMPARE(bytesOnLine(terminal), QString());
    }

    void missingPort() {
        const Run run = runRelay({"--port", "/dev/ttyNoSuchDevice", "1", "on"});
        QCOMPARE(run.status, 3);
        QVERIFY2(run.errors.contains(QStringLiteral("/dev/ttyNoSuchDevice does not exist")),
                 qPrintable(run.errors));
    }

    // A stop signal in an endless run: the frame that is out is finished, --at-exit goes out,
    // the status tells the signal, and no lock is left.
    void stopSignal_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        QTest::newRow("SIGINT") << SIGINT << 130;
        QTest::newRow("SIGTERM") << SIGTERM << 143;
        QTest::newRow("SIGHUP") << SIGHUP << 129;
    }
    void stopSignal() {
        QFETCH(int, signal);
        QFETCH(int, status);
        Board board;
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(kProgram,
                      {"--port", board.path(), "--expect", "echo", "--repeat", "0", "--at-exit",
                       "all off", "1", "on", "wait", "50ms", "1", "off", "wait", "50ms"});
        QTRY_VERIFY_WITH_TIMEOUT(board.accepted.size() >= 4, 20000);
        ::kill(static_cast<pid_t>(process.processId()), signal);
        QVERIFY(finished.wait(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        QCOMPARE(hexFrames(board.accepted).constLast(), QStringLiteral("24 01 04 01 01 01 2C"));
        const QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), board.accepted.size());
        QCOMPARE(fields(lines, 4), QStringList(lines.size(), "echoed"));
        QVERIFY(support::lockFilesFor(board.path()).isEmpty());
    }

    // With standard error on a terminal, --repeat draws a progress line; --quiet leaves out both
    // it and the summary.
    void progressLine_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("shown");
        QTest::newRow("progress") << "" << true;
        QTest::newRow("quiet") << "--quiet" << false;
    }
    void progressLine() {
        QFETCH(QString, option);
        QFETCH(bool, shown);
        if (QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty()) {
            QSKIP("script is not installed");
        }
        const sim::PseudoTerminal terminal;
        // script gives the program a terminal for its standard error and copies it to its own
        // standard output; the frames' lines go to a file.
        const QTemporaryDir folder;
        const QString lines = folder.filePath(QStringLiteral("lines"));
        QProcess process;
        process.start(QStringLiteral("script"),
                      {"-qec",
                       QStringLiteral("'%1' --port %2 --repeat 3 %3 1 on wait 300ms > '%4'")
                           .arg(kProgram, terminal.slavePath(), option, lines),
                       "/dev/null"});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        const QString seen = QString::fromUtf8(process.readAllStandardOutput());
        QCOMPARE(seen.contains(QStringLiteral("cycle 1 of 3, 0 failure(s)")), shown);
        QCOMPARE(seen.contains(QStringLiteral("left")), shown);
        QCOMPARE(seen.contains(QStringLiteral("3 cycle(s), 3 frame(s), 0 failure(s)")), shown);
        QFile file(lines);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().count('\n'), 3);
    }

    // The line hangs up mid-run: status 1 naming the frame, at once rather than after a busy
    // spell, and no lock left.
    void lineHungUp() {
        Board board;
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(kProgram,
                      {"--port", board.path(), "--expect", "echo", "--repeat", "0", "1", "on"});
        QTRY_VERIFY_WITH_TIMEOUT(board.accepted.size() >= 10, 20000);
        board.board.hangUp();
        QVERIFY(finished.wait(5000));
        QCOMPARE(process.exitCode(), 1);
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("'1 on' (A0 01 03 A4)")) &&
                     errors.contains(QStringLiteral("the port went away")),
                 qPrintable(errors));
        const QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(fields(lines, 4).constLast(), QStringLiteral("port lost"));
        QVERIFY(support::lockFilesFor(board.path()).isEmpty());
    }

    void listAsJson() {
        if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty()) {
            QSKIP("python3 is not installed");
        }
        QProcess shell;
        shell.start(
            QStringLiteral("sh"),
            {"-c", "'" + kProgram +
                       "' list --json | python3 -c 'import json, sys; ports = "
                       "json.load(sys.stdin); print(len(ports)); print(\" \".join(p[\"com\"] "
                       "for p in ports[:4])); print(sorted(ports[0]))'"});
        QVERIFY(shell.waitForFinished(30000));
        QCOMPARE(shell.exitCode(), 0);
        const QStringList out = QString::fromUtf8(shell.readAllStandardOutput()).split(u'\n');
        QVERIFY(out[0].toInt() >= 4);
        QCOMPARE(out[1], QStringLiteral("COM1 COM2 COM3 COM4"));
        QCOMPARE(out[2],
                 QStringLiteral("['by_id', 'com', 'description', 'holder', 'path', 'state']"));

        const Run lines = runRelay({"list"});
        QCOMPARE(lines.status, 0);
        QCOMPARE(lines.lines.size(), out[0].toInt());
        for (const QString& line : lines.lines) {
            QCOMPARE(line.count(u'\t'), 5);
            QVERIFY(QStringList({"free", "busy", "absent"}).contains(line.section(u'\t', 2, 2)));
        }
    }

    // --log keeps the window's record: the open, each frame and its echo, the close.
    void record() {
        Board board;
        const QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("run.log"));
        const Run run = runRelay({"--port", board.path(), "--expect", "echo", "--log", file, "-q",
                                  "1", "on", "send", "a0 02 03 a5"});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.errors, QString());
        QFile log(file);
        QVERIFY(log.open(QIODevice::ReadOnly));
        // The bytes of one echo may come in more than one receive event.
        QStringList events;
        for (const QString& line :
             QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            QCOMPARE(line.count(u'\t'), 5);
            QCOMPARE(line.section(u'\t', 3, 3), board.path());
            const QString event = line.section(u'\t', 1, 1);
            if (event == u"received" && !events.isEmpty() && events.last().startsWith(event)) {
                events.last() += u' ' + line.section(u'\t', 5);
            } else {
                events << event + u' ' + line.section(u'\t', 4);
            }
        }
        QCOMPARE(events, (QStringList{"opened 9600,N,8,1\t", "sent A0 01 03 A4\tA0 01 03 A4",
                                      "received \tA0 01 03 A4", "sent a0 02 03 a5\tA0 02 03 A5",
                                      "received \tA0 02 03 A5", "closed \t"}));
    }

    // Standard output that cannot be written is a failure, not a silent success.
    void unwritableOutput() {
        if (!QFile::exists(QStringLiteral("/dev/full"))) {
            QSKIP("this machine has no /dev/full");
        }
        const sim::PseudoTerminal terminal;
        QProcess process;
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
        process.start(kProgram, {"--port", terminal.slavePath(), "1", "on", "1", "off"});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(QString::fromUtf8(process.readAllStandardError())
                    .contains(QStringLiteral("cannot write to standard output")));
        QCOMPARE(bytesOnLine(terminal), QStringLiteral("A0 01 03 A4"));
    }
};

QTEST_GUILESS_MAIN(TestRelayProgram)
#include "tst_relay_program.moc"

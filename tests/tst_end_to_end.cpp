// The real program: its command line, and the program on a virtual X server driven by real
// input events (xdotool), sending frames to the simulated board on a pseudo-terminal. A stop
// signal at any moment ends it with status 0, the port closed and no lock left behind.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <memory>

#include "serial/uucp_lock.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"
#include "ui/layout.h"

using logic::Control;

namespace {

const QString kProgram = QStringLiteral(ZEVA_PROGRAM);

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run runProgram(const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(kProgram, arguments);
    process.waitForFinished(20000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// The middle of `id` in the window's client area, at 96 dpi.
QPoint middleOf(Control id) {
    QPoint at;
    for (std::optional<Control> c = id; c; c = ui::design(*c).parent) {
        at += QPoint(ui::twipsToPixels(ui::design(*c).left, 96),
                     ui::twipsToPixels(ui::design(*c).top, 96));
    }
    const ui::ControlDesign& d = ui::design(id);
    return at + QPoint(ui::twipsToPixels(d.width, 96) / 2, ui::twipsToPixels(d.height, 96) / 2);
}

// Whether process `pid` holds the lock of `path`: a lock of the same name left by someone else
// says nothing of the program.
bool lockedBy(const QString& path, qint64 pid) {
    const QStringList files = support::lockFilesFor(path);
    return std::any_of(files.begin(), files.end(), [pid](const QString& name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) && file.readLine().trimmed().toLongLong() == pid;
    });
}

}  // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

    QProcess m_xvfb;
    QString m_display;
    QTemporaryDir m_runtime;

    QString xdotool(const QStringList& arguments) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_display);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("xdotool"), arguments);
        process.waitForFinished(30000);
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

    // Starts a virtual X server once for the whole test; empty when it runs, otherwise why not.
    QString startDisplay() {
        for (const char* tool : {"Xvfb", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                return QString::fromLatin1(tool) +
                       u" is not installed (scripts/setup test installs it)";
            }
        }
        if (m_xvfb.state() == QProcess::NotRunning) {
            // A display of its own; Xvfb says which number it took.
            m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "800x600x24",
                                                  "-dpi", "96", "-nolisten", "tcp"});
            if (!m_xvfb.waitForReadyRead(20000)) {
                return u"Xvfb did not start: " + m_xvfb.errorString();
            }
            m_display = u':' + QString::fromLatin1(m_xvfb.readLine().trimmed());
        }
        return {};
    }

    void startOnDisplay(QProcess& program, const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        program.setProcessEnvironment(environment);
        program.start(kProgram, arguments);
    }

    // The program's windows on the screen, once at least one is: the main window and any
    // message box.
    QStringList visibleWindows() {
        return xdotool({"search", "--sync", "--onlyvisible", "--classname", "zeva-relay-test"})
            .split(u'\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("version") << QStringList{"--version"} << 0 << "zeva-relay-test 1.0.0\n"
                                 << "";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: zeva-relay-test"
                              << "";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << ""
                                        << "Unknown option 'bogus'";
        QTest::newRow("bad binding") << QStringList{"--port", "COM9=/dev/ttyS0"} << 2 << ""
                                     << "COM9 is not in the port list";
        QTest::newRow("number too large to count")
            << QStringList{"--port", "COM99999999999=/dev/null"} << 2 << ""
            << "COM99999999999 is not in the port list";
        QTest::newRow("number past 32 bits")
            << QStringList{"--port", "COM4294967297=/dev/null"} << 2 << ""
            << "COM4294967297 is not in the port list";
        QTest::newRow("qt options, then help")
            << QStringList{"-platform", "offscreen", "-style", "Fusion", "-reverse", "--help"} << 0
            << "Usage: zeva-relay-test"
            << "";
    }

    // Help, version and usage errors need no display and open no window.
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        const Run run = runProgram(arguments);
        QCOMPARE(run.status, status);
        QVERIFY2(out.isEmpty() ? run.out.isEmpty() : run.out.startsWith(out), qPrintable(run.out));
        QVERIFY2(err.isEmpty() ? run.err.isEmpty() : run.err.contains(err), qPrintable(run.err));
    }

    // The port list needs no display, shows bound ports and only those of the machine's own list
    // otherwise, and tells who holds a port.
    void listPorts_data() {
        QTest::addColumn<QString>("scene");
        QTest::newRow("unbound") << "unbound";
        QTest::newRow("bound, open where it was made") << "bound";
        QTest::newRow("bound, locked") << "locked";
        QTest::newRow("bound, flock") << "flock";
        QTest::newRow("bound, no permission") << "no permission";
    }

    void listPorts() {
        QFETCH(QString, scene);
        sim::PseudoTerminal terminal;
        const QString path = terminal.slavePath();
        QStringList arguments{"--list-ports"};
        if (scene != u"unbound") {
            arguments << "--port"
                      << "COM2=" + path;
        }
        QString expected =
            QStringLiteral("COM2  %1  busy: open in process %2").arg(path).arg(::getpid());
        QProcess holder;
        std::unique_ptr<QFile> lock;
        int fd = -1;
        if (scene == u"locked") {
            holder.start(QStringLiteral("sleep"), {QStringLiteral("600")});
            QVERIFY(holder.waitForStarted());
            lock = std::make_unique<QFile>(serial::uucp_lock::lockFilePath(path));
            QVERIFY(lock->open(QIODevice::NewOnly));
            lock->write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
            lock->close();
            expected = QStringLiteral("COM2  %1  busy: locked by process %2 (sleep) in %3")
                           .arg(path)
                           .arg(holder.processId())
                           .arg(lock->fileName());
        } else if (scene == u"flock") {
            fd = ::open(qPrintable(path), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(fd >= 0);
            QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
            expected = QStringLiteral("COM2  %1  busy: flock held by process %2")
                           .arg(path)
                           .arg(::getpid());
        }

        Run run;
        if (scene == u"no permission") {
            if (!support::canRunUnprivileged()) {
                QSKIP("running as root without setpriv: no way to run as another user");
            }
            QCOMPARE(::chmod(qPrintable(path), ::geteuid() == 0 ? 0600 : 0), 0);
            const support::ProgramRun unprivileged = support::runUnprivileged(kProgram, arguments);
            run = {unprivileged.finished ? unprivileged.exitCode : -1,
                   unprivileged.lines.join(u'\n'), unprivileged.errors};
            expected = QStringLiteral("no permission: join group %1").arg(QFileInfo(path).group());
        } else {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.remove(QStringLiteral("DISPLAY"));
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            run = runProgram(arguments, environment);
        }
        if (fd >= 0) {
            ::close(fd);
        }
        if (lock) {
            lock->remove();
            holder.kill();
            holder.waitForFinished();
        }
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        const QStringList lines = run.out.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(lines.size() >= 4, qPrintable(run.out));
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(lines[i].startsWith(QStringLiteral("COM%1  ").arg(i + 1)),
                     qPrintable(run.out));
        }
        if (scene == u"unbound") {
            // Pseudo-terminals are not serial ports of the machine: only a binding lists one.
            QVERIFY2(!run.out.contains(path), qPrintable(run.out));
        } else {
            QVERIFY2(lines[1].contains(expected), qPrintable(run.out));
        }
    }

    // Qt's own options reach Qt: -platform offscreen lets the program run with no display at
    // all, where the environment asks for X.
    void qtOptionsRun() {
        sim::PseudoTerminal terminal;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        program.setProcessEnvironment(environment);
        program.start(kProgram, {"-platform", "offscreen", "-style", "Fusion", "-reverse", "--port",
                                 "COM1=" + terminal.slavePath()});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(lockedBy(terminal.slavePath(), program.processId()) ||
                                     program.state() == QProcess::NotRunning,
                                 20000);
        QVERIFY2(program.state() == QProcess::Running,
                 qPrintable(QString::fromLocal8Bit(program.readAllStandardError())));
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(support::lockFilesFor(terminal.slavePath()).isEmpty());
    }

    void clicksReachTheBoard() {
        if (const QString why = startDisplay(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);

        QProcess program;
        startOnDisplay(program, {"--port", "COM1=" + terminal.slavePath()});
        QVERIFY(program.waitForStarted());

        const QString window = visibleWindows().value(0);
        QVERIFY2(!window.isEmpty(), "the window did not appear");
        QTRY_VERIFY(!support::lockFilesFor(terminal.slavePath()).isEmpty());

        const struct {
            Control button;
            QByteArray frame;
        } clicks[] = {{Control::on1, QByteArray::fromHex("A00103A4")},
                      {Control::reverse2, QByteArray::fromHex("A00204A6")},
                      {Control::Command10, QByteArray::fromHex("2401040102022E")}};
        for (const auto& click : clicks) {
            const QPoint at = middleOf(click.button);
            xdotool({"mousemove", "--window", window, QString::number(at.x()),
                     QString::number(at.y()), "click", "1"});
            QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
            QCOMPARE(accepted.takeFirst().first().toByteArray(), click.frame);
        }

        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(support::lockFilesFor(terminal.slavePath()).isEmpty(),
                 qPrintable(support::lockFilesFor(terminal.slavePath()).join(u", ")));
    }

    // A stop signal ends the program at once with status 0 and no lock left, whatever it is
    // doing: a message box open before the window shows, the port being opened, a flood of
    // received bytes, a message box over the window.
    void stopSignals_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("scene");
        const struct {
            int number;
            const char* name;
        } signals_[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
        for (const char* scene : {"start-up box", "start-up", "flood", "loss box"}) {
            for (const auto& signal : signals_) {
                QTest::addRow("%s, %s", scene, signal.name) << signal.number << QString(scene);
            }
        }
    }

    void stopSignals() {
        QFETCH(int, signal);
        QFETCH(QString, scene);
        if (const QString why = startDisplay(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        sim::PseudoTerminal terminal;
        const QTemporaryDir folder;
        const QString path = scene == u"start-up box" ? folder.filePath(QStringLiteral("ttyUSB9"))
                                                      : terminal.slavePath();
        QProcess program;
        startOnDisplay(program, {"--port", "COM1=" + path});
        QVERIFY(program.waitForStarted());

        QTimer flood;
        qint64 flooded = 0;
        if (scene == u"start-up box") {
            // The main window shows only after start-up: the one window is the box.
            QCOMPARE(visibleWindows().size(), 1);
        } else if (scene == u"start-up") {
            QTRY_VERIFY_WITH_TIMEOUT(lockedBy(path, program.processId()), 20000);
        } else if (scene == u"flood") {
            QCOMPARE(visibleWindows().size(), 1);
            const QByteArray chunk(4096, 'U');
            connect(&flood, &QTimer::timeout, this, [&] {
                const ssize_t written =
                    ::write(terminal.masterDescriptor(), chunk.constData(), chunk.size());
                flooded += std::max<ssize_t>(written, 0);
            });
            flood.start(1);
            QTRY_VERIFY_WITH_TIMEOUT(flooded > 1024 * 1024, 60000);
        } else {
            QCOMPARE(visibleWindows().size(), 1);
            terminal.hangUp();
            QTRY_COMPARE_WITH_TIMEOUT(visibleWindows().size(), 2, 20000);
        }

        QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signal), 0);
        // It ends at once; the wait is long only because a loaded machine may be slow to get
        // there, while the fault it guards against keeps the program running for good.
        QVERIFY2(program.waitForFinished(10000), "the program did not end on the signal");
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(support::lockFilesFor(path).isEmpty(),
                 qPrintable(support::lockFilesFor(path).join(u", ")));
    }

    // A port that cannot be opened is described in full on standard error too (the box says
    // only that it failed): one line, with the path and the reason.
    void openErrorsOnStandardError_data() {
        QTest::addColumn<bool>("busy");
        QTest::newRow("missing device") << false;
        QTest::newRow("locked by a running program") << true;
    }

    void openErrorsOnStandardError() {
        QFETCH(bool, busy);
        if (const QString why = startDisplay(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        sim::PseudoTerminal terminal;
        const QTemporaryDir folder;
        const QString path =
            busy ? terminal.slavePath() : folder.filePath(QStringLiteral("ttyUSB9"));
        QProcess holder;
        QFile lock(serial::uucp_lock::lockFilePath(path));
        QString expected =
            QStringLiteral("zeva-relay-test: 串口 COM1 不存在：设备 %1 不存在。").arg(path);
        if (busy) {
            holder.start(QStringLiteral("sleep"), {QStringLiteral("600")});
            QVERIFY(holder.waitForStarted());
            QVERIFY(lock.open(QIODevice::NewOnly));
            lock.write(QByteArray::number(holder.processId()).rightJustified(10, ' ') + '\n');
            lock.close();
            expected = QStringLiteral(
                           "zeva-relay-test: 串口 COM1（%1）已被其他程序占用：锁文件 %2 "
                           "属于正在运行的进程 %3（sleep）。")
                           .arg(path, lock.fileName())
                           .arg(holder.processId());
        }
        QProcess program;
        startOnDisplay(program, {"--port", "COM1=" + path});
        QVERIFY(program.waitForStarted());
        const qsizetype windows = visibleWindows().size();
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        if (busy) {
            lock.remove();
            holder.kill();
            holder.waitForFinished();
        }
        QCOMPARE(windows, 1);
        const QStringList lines =
            QString::fromLocal8Bit(program.readAllStandardError())
                .split(u'\n')
                .filter(QRegularExpression(QStringLiteral("^zeva-relay-test: ")));
        QCOMPARE(lines, QStringList{expected});
    }

    void cleanupTestCase() {
        if (m_xvfb.state() != QProcess::NotRunning) {
            m_xvfb.terminate();
            m_xvfb.waitForFinished(10000);
        }
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"

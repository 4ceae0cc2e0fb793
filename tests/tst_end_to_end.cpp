// SPDX-License-Identifier: GPL-3.0-or-later
// The real program: its command line, and the program on a virtual X server driven by real
// input events (xdotool), sending frames to the simulated board on a pseudo-terminal. A stop
// signal at any moment ends it with status 0, the port closed and no lock left behind. With --log
// it records the traffic: whole lines whether it is killed or shares the file with a second copy,
// and a record that cannot be written is one message in a window that goes on working.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <array>
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

// Whether process `pid` held the lock of `path` at some moment within `timeout` ms. At start-up
// the program holds it twice, for the probe and for the open, with a short gap between: the
// moment it was seen is what counts, not whether it is held again when asked.
bool sawLockedBy(const QString& path, qint64 pid, int timeout) {
    return QTest::qWaitFor([&] { return lockedBy(path, pid); }, timeout);
}

// Where in the kernel process `pid` waits now ("pipe_write", "anon_pipe_write"); "0" while it
// runs.
QString waitChannel(pid_t pid) {
    QFile file(QStringLiteral("/proc/%1/wchan").arg(pid));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

QStringList recordLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(u'\n');
}

// A whole line of the record: six fields, a timestamp and a known event.
bool isWholeRecordLine(const QString& line) {
    static const QRegularExpression whole(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d\t)"
                       R"((opened|closed|lost|sent|received|error)(\t[^\t]*){4}$)"));
    return whole.match(line).hasMatch();
}

// The lines of the record of `event` about `device`, without their timestamps.
QStringList eventsOf(const QStringList& lines, const QString& device) {
    QStringList found;
    for (const QString& line : lines) {
        if (line.section(u'\t', 3, 3) == device) {
            found << line.section(u'\t', 1);
        }
    }
    return found;
}

// A tmpfs of four pages, mounted for one test and unmounted after it: two pages for the record,
// two for a file that takes the rest when fill() is called.
class SmallFilesystem {
public:
    SmallFilesystem() = default;
    SmallFilesystem(const SmallFilesystem&) = delete;
    SmallFilesystem& operator=(const SmallFilesystem&) = delete;
    ~SmallFilesystem() {
        if (m_mounted) {
            QProcess::execute(QStringLiteral("umount"), {m_folder.path()});
        }
    }

    // False where this machine does not let the test mount it (it needs root).
    bool mount() {
        QProcess process;
        process.start(QStringLiteral("mount"),
                      {"-t", "tmpfs", "-o", "size=16k", "tmpfs", m_folder.path()});
        m_mounted = process.waitForFinished(10000) &&
                    process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        return m_mounted;
    }

    QString filePath(const QString& name) const { return m_folder.filePath(name); }

    // Takes every free byte; false when the filling file could not be made.
    bool fill() const {
        QFile filler(filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            return false;
        }
        while (filler.write(QByteArray(1024, 'f')) == 1024) {
        }
        return true;
    }

private:
    QTemporaryDir m_folder;
    bool m_mounted = false;
};

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
            m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24",
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

private:
    // The program on the display and its window.
    struct Program {
        Program() = default;
        Program(const Program&) = delete;
        Program& operator=(const Program&) = delete;
        ~Program() {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished(10000);
            }
        }
        QProcess process;
        QString window;
    };

    // The display for the record tests; false, after saying why, when this machine has none.
    bool haveDisplay() {
        const QString why = startDisplay();
        if (!why.isEmpty()) {
            qWarning("%s", qPrintable(why));
        }
        return why.isEmpty();
    }

    // Starts the program, COM1 bound to `terminal`, with `arguments` besides.
    void start(Program& program, const sim::PseudoTerminal& terminal,
               const QStringList& arguments) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        program.process.setProcessEnvironment(environment);
        program.process.start(kProgram,
                              QStringList{"--port", "COM1=" + terminal.slavePath()} + arguments);
        QVERIFY(program.process.waitForStarted());
    }

    // The program's first visible window: its main window, or the message box it shows first.
    QString visibleWindow(const Program& program) {
        return xdotool({"search", "--all", "--sync", "--onlyvisible", "--pid",
                        QString::number(program.process.processId()), "--classname",
                        "zeva-relay-test"})
            .section(u'\n', 0, 0);
    }

    int visibleWindows(const Program& program) {
        const QString found = xdotool({"search", "--all", "--onlyvisible", "--pid",
                                       QString::number(program.process.processId()), "--classname",
                                       "zeva-relay-test"});
        return found.isEmpty() ? 0 : static_cast<int>(found.split(u'\n').size());
    }

    void showWindow(Program& program, const sim::PseudoTerminal& terminal) {
        program.window = visibleWindow(program);
        QVERIFY2(!program.window.isEmpty(), "the window did not appear");
        QTRY_VERIFY(!support::lockFilesFor(terminal.slavePath()).isEmpty());
    }

    void click(const Program& program, Control button) {
        const QPoint at = middleOf(button);
        xdotool({"mousemove", "--window", program.window, QString::number(at.x()),
                 QString::number(at.y()), "click", "1"});
    }

    // Ends the program as a signal from its session would.
    static void stop(Program& program) {
        program.process.terminate();
        QVERIFY(program.process.waitForFinished(20000));
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
    }

    // Waits for the one message box over the window and presses its button.
    void answerTheMessage(const Program& program) {
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(program), 2, 10000);
        xdotool({"key", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(program), 1, 10000);
    }

    // What a finished program said on standard error about its traffic record.
    static QStringList recordErrors(Program& program) {
        return QString::fromLocal8Bit(program.process.readAllStandardError())
            .split(u'\n')
            .filter(u"traffic record");
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
        QTest::newRow("record in a missing folder")
            << QStringList{"--log", "/no-such-folder/record.log"} << 2 << ""
            << "cannot open the traffic record '/no-such-folder/record.log': No such file";
        QTest::newRow("record on a folder") << QStringList{"--log", "/"} << 2 << ""
                                            << "cannot open the traffic record '/': Is a directory";
        QTest::newRow("record without a name") << QStringList{"--log", ""} << 2 << ""
                                               << "--log needs a file name";
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

    // Output that cannot be written fails the program with a message, as GNU tools do.
    void unwritableOutputFails_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("help") << "--help";
        QTest::newRow("version") << "--version";
        QTest::newRow("port list") << "--list-ports";
    }

    void unwritableOutputFails() {
        QFETCH(QString, option);
        QProcess process;
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
        process.start(kProgram, {option});
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(process.readAllStandardError()),
                 QStringLiteral("zeva-relay-test: write error: No space left on device\n"));
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
        QTest::newRow("bound, lock names no process") << "lock names no process";
        QTest::newRow("bound, FIFO planted at the lock path") << "fifo";
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
        // Whatever happens, the lock folder is left as it was.
        const auto removeLock = qScopeGuard([&] {
            if (lock) {
                lock->remove();
            }
        });
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
        } else if (scene == u"lock names no process") {
            lock = std::make_unique<QFile>(serial::uucp_lock::lockFilePath(path));
            QVERIFY(lock->open(QIODevice::NewOnly));
            lock->write("lock\n");
            lock->close();
            expected = QStringLiteral("COM2  %1  busy: lock file %2 names no process")
                           .arg(path, lock->fileName());
        } else if (scene == u"fifo") {
            // Any user may plant one; opening it to read would wait for a writer.
            if (!support::canRunUnprivileged()) {
                QSKIP("running as root without setpriv: no way to run as another user");
            }
            lock = std::make_unique<QFile>(serial::uucp_lock::lockFilePath(path));
            const support::ProgramRun planted = support::runUnprivileged(
                QStandardPaths::findExecutable(QStringLiteral("mkfifo")), {lock->fileName()});
            QVERIFY2(planted.finished && planted.exitCode == 0, qPrintable(planted.errors));
            expected = QStringLiteral("COM2  %1  busy: %2 is a FIFO, not a lock file")
                           .arg(path, lock->fileName());
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
        if (holder.state() != QProcess::NotRunning) {
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
        QVERIFY(QTest::qWaitFor(
            [&] {
                return lockedBy(terminal.slavePath(), program.processId()) ||
                       program.state() == QProcess::NotRunning;
            },
            20000));
        QVERIFY2(program.state() == QProcess::Running,
                 qPrintable(QString::fromLocal8Bit(program.readAllStandardError())));
        program.terminate();
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(support::lockFilesFor(terminal.slavePath()).isEmpty());
    }

    void clicksReachTheBoard() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        Program program;
        start(program, terminal, {});
        showWindow(program, terminal);

        const struct {
            Control button;
            QByteArray frame;
        } clicks[] = {{Control::on1, QByteArray::fromHex("A00103A4")},
                      {Control::reverse2, QByteArray::fromHex("A00204A6")},
                      {Control::Command10, QByteArray::fromHex("2401040102022E")}};
        for (const auto& entry : clicks) {
            click(program, entry.button);
            QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
            QCOMPARE(accepted.takeFirst().first().toByteArray(), entry.frame);
        }

        stop(program);
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
            QVERIFY(sawLockedBy(path, program.processId(), 20000));
        } else if (scene == u"flood") {
            QCOMPARE(visibleWindows().size(), 1);
            const QByteArray chunk(4096, 'U');
            connect(&flood, &QTimer::timeout, this, [&] {
                const ssize_t written =
                    ::write(terminal.masterDescriptor(), chunk.constData(), chunk.size());
                flooded += std::max<ssize_t>(written, 0);
            });
            flood.start(1);
            QTRY_VERIFY_WITH_TIMEOUT(flooded > 64 * 1024, 60000);
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

    // Wherever the program could be made to wait by another user or a stalled reader, a stop
    // signal still ends it within a few seconds, with status 0 and no lock left: a FIFO planted
    // at the port's lock path (the start-up box says the port is busy), a record into a pipe
    // that is never read during a flood (its reader gets whole lines), standard error into a
    // full pipe, and standard output and error closed (it must not take a message for a stop
    // signal and end by itself). A record on a FIFO nobody reads ends it at once, status 2.
    void stopWhereItCouldWait_data() {
        QTest::addColumn<QString>("scene");
        for (const char* scene :
             {"fifo at the lock path", "record into a stalled pipe", "standard error stalled",
              "standard streams closed", "record on a fifo nobody reads"}) {
            QTest::newRow(scene) << QString::fromLatin1(scene);
        }
    }

    void stopWhereItCouldWait() {
        QFETCH(QString, scene);
        const sim::PseudoTerminal terminal;
        const QTemporaryDir folder;
        const QString fifo = folder.filePath(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QString port = terminal.slavePath();
        const QString missing = folder.filePath(QStringLiteral("ttyUSB9"));
        const QString lockFile = serial::uucp_lock::lockFilePath(port);
        QStringList arguments;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        program.setProcessEnvironment(environment);
        // The test's end of the FIFO, read only once the program has ended.
        int reader = -1;
        bool planted = false;
        const auto cleanUp = qScopeGuard([&] {
            if (reader >= 0) {
                ::close(reader);
            }
            // Whatever happened, no FIFO is left where every program looks for a lock.
            if (planted) {
                QFile::remove(lockFile);
            }
        });
        if (scene == u"fifo at the lock path") {
            if (!support::canRunUnprivileged()) {
                QSKIP("running as root without setpriv: no way to plant it as another user");
            }
            const support::ProgramRun mkfifo = support::runUnprivileged(
                QStandardPaths::findExecutable(QStringLiteral("mkfifo")), {lockFile});
            planted = mkfifo.finished && mkfifo.exitCode == 0;
            QVERIFY2(planted, qPrintable(mkfifo.errors));
        } else if (scene == u"record into a stalled pipe") {
            reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
            program.setStandardOutputFile(fifo);
            arguments << "--log"
                      << "-";
        } else if (scene == u"standard error stalled") {
            reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
            QVERIFY(reader >= 0);
            const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            const QByteArray page(4096, 'x');
            while (::write(writer, page.constData(), page.size()) > 0) {
            }
            ::close(writer);
            program.setStandardErrorFile(fifo);
            // A missing device, so that the program has something to say on standard error.
            port = missing;
        } else if (scene == u"standard streams closed") {
            port = missing;
        } else {
            arguments << "--log" << fifo;
        }
        arguments << "--port"
                  << "COM1=" + port;
        if (scene == u"standard streams closed") {
            program.start(QStringLiteral("sh"),
                          QStringList{"-c", "exec \"$0\" \"$@\" >&- 2>&-", kProgram} + arguments);
        } else {
            program.start(kProgram, arguments);
        }
        QVERIFY(program.waitForStarted());
        const auto pid = static_cast<pid_t>(program.processId());
        QString errors;
        const auto said = [&](const QString& text) {
            errors += QString::fromLocal8Bit(program.readAllStandardError());
            return errors.contains(text);
        };

        if (scene == u"record on a fifo nobody reads") {
            QVERIFY2(program.waitForFinished(8000), "the program waited for a reader");
            QCOMPARE(program.exitStatus(), QProcess::NormalExit);
            QCOMPARE(program.exitCode(), 2);
            QVERIFY2(said(QStringLiteral("it is a FIFO that no program is reading")),
                     qPrintable(errors));
            return;
        }
        QTimer flood;
        qint64 flooded = 0;
        if (scene == u"fifo at the lock path") {
            QTRY_VERIFY_WITH_TIMEOUT(said(QStringLiteral("命名管道")), 20000);
        } else if (scene == u"record into a stalled pipe") {
            const QByteArray chunk(4096, 'U');
            connect(&flood, &QTimer::timeout, this, [&] {
                const ssize_t written =
                    ::write(terminal.masterDescriptor(), chunk.constData(), chunk.size());
                flooded += std::max<ssize_t>(written, 0);
            });
            flood.start(1);
            // A program held in a write stops reading, and the flood stops with it.
            QTRY_VERIFY_WITH_TIMEOUT(
                flooded >= 1024 * 1024 || waitChannel(pid).endsWith(u"pipe_write"), 60000);
        } else if (scene == u"standard error stalled") {
            QTRY_VERIFY_WITH_TIMEOUT(waitChannel(pid).endsWith(u"pipe_write"), 20000);
        } else {
            QVERIFY2(!program.waitForFinished(4000), "the program ended by itself");
        }

        QCOMPARE(::kill(pid, SIGTERM), 0);
        QVERIFY2(program.waitForFinished(5000), "the program did not end on the signal");
        flood.stop();
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        if (scene == u"fifo at the lock path") {
            // Someone else's FIFO is left as it was, and no lock of the program's took its place.
            QVERIFY(QFileInfo(lockFile).exists() && !QFileInfo(lockFile).isFile());
        }
        // With the FIFO in place no lock was taken; otherwise none is left.
        QVERIFY2(planted || support::lockFilesFor(port).isEmpty(),
                 qPrintable(support::lockFilesFor(port).join(u", ")));
        if (scene == u"record into a stalled pipe") {
            QByteArray record;
            std::array<char, 65536> buffer{};
            for (ssize_t n = 0; (n = ::read(reader, buffer.data(), buffer.size())) > 0;) {
                record.append(buffer.data(), n);
            }
            QStringList lines = QString::fromUtf8(record).split(u'\n');
            // A program ended while its reader was not reading may have written its last line
            // in part.
            lines.removeLast();
            QVERIFY(!lines.isEmpty());
            for (const QString& line : lines) {
                QVERIFY2(isWholeRecordLine(line), qPrintable(line.left(200)));
            }
        }
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

    // A click is one line, its echo one more; opening and closing the port one each.
    void clickIsRecorded() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        const QString path = m_runtime.filePath(QStringLiteral("click.log"));
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        Program program;
        start(program, terminal, {"--log", path});
        showWindow(program, terminal);
        click(program, Control::on1);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
        QTRY_COMPARE(recordLines(path).size(), 4);
        stop(program);

        QStringList lines = recordLines(path);
        QCOMPARE(lines.takeLast(), QString());
        for (const QString& line : lines) {
            QVERIFY2(isWholeRecordLine(line), qPrintable(line));
        }
        const QString device = terminal.slavePath();
        QCOMPARE(eventsOf(lines, device),
                 (QStringList{"opened\tCOM1\t" + device + "\t9600,N,8,1\t",
                              "sent\tCOM1\t" + device + "\tA0 01 03 A4\tA0 01 03 A4",
                              "received\tCOM1\t" + device + "\t\tA0 01 03 A4",
                              "closed\tCOM1\t" + device + "\t\t"}));
    }

    // The record on standard output, into a pipe the test does not read until the end, while
    // the operator clicks and the board answers each click with its echo and a flood: the lines
    // wait for the reader instead of holding the window, and every one arrives whole and in
    // order. A click discards what waits unread, as the window does, so only the echoes and the
    // flood after the last click are sure to be whole.
    void slowRecordReaderLosesNothing() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        const QString fifo = m_runtime.filePath(QStringLiteral("slow-record"));
        QFile::remove(fifo);
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        const auto closeReader = qScopeGuard([reader] { ::close(reader); });
        QByteArray record;
        // The bytes of the received lines read so far, in order.
        const auto receivedBytes = [&] {
            std::array<char, 65536> buffer{};
            for (ssize_t n = 0; (n = ::read(reader, buffer.data(), buffer.size())) > 0;) {
                record.append(buffer.data(), n);
            }
            QByteArray bytes;
            for (const QByteArray& line : record.split('\n')) {
                if (line.split('\t').value(1) == "received") {
                    bytes += QByteArray::fromHex(line.split('\t').value(5));
                }
            }
            return bytes;
        };
        const QByteArray echo = QByteArray::fromHex("A00103A4");
        // About 200 KiB of record each, three times what the pipe holds; all three stay well
        // below the 1 MiB the record keeps for a slow reader.
        const QByteArray flood(64 * 1024, 'U');
        // The flood after the last echo, once the record holds it all.
        const auto lastFlood = [&] {
            const QByteArray bytes = receivedBytes();
            const qsizetype at = bytes.lastIndexOf(echo);
            return at < 0 ? QByteArray() : bytes.mid(at + echo.size());
        };

        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        Program program;
        program.process.setStandardOutputFile(fifo);
        start(program, terminal, {"--log", "-"});
        showWindow(program, terminal);

        constexpr int kClicks = 3;
        for (int click = 0; click < kClicks; ++click) {
            this->click(program, Control::on1);
            QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), click + 1, 10000);
            // Behind the echo on the line; the program must read it to take the whole flood.
            qint64 sent = 0;
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    const ssize_t written =
                        ::write(terminal.masterDescriptor(), flood.constData() + sent,
                                static_cast<std::size_t>(flood.size() - sent));
                    sent += std::max<ssize_t>(written, 0);
                    return sent == flood.size();
                }(),
                20000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(lastFlood().size(), flood.size(), 30000);
        QCOMPARE(lastFlood(), flood);
        stop(program);
        receivedBytes();

        QList<QByteArray> lines = record.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        int sentLines = 0;
        QByteArray answers;
        for (const QByteArray& line : std::as_const(lines)) {
            QVERIFY2(isWholeRecordLine(QString::fromUtf8(line)), line.left(200).constData());
            const QList<QByteArray> fields = line.split('\t');
            if (fields[1] == "sent") {
                ++sentLines;
            } else if (fields[1] == "received") {
                answers += QByteArray::fromHex(fields[5]).replace('U', QByteArray());
                // An echo comes after the line of the frame it answers.
                QVERIFY(answers.count(echo) <= sentLines);
            }
        }
        QCOMPARE(sentLines, kClicks);
        QCOMPARE(answers, echo.repeated(kClicks));
    }

    // With --reconnect, COM1 bound to a link: the board hangs up and the link goes, then a new
    // line appears under the same name. No message box, a click 3 s after the re-plug reaches
    // the new board, and the record shows the loss and a second open.
    void reconnectFollowsTheReplug() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        const QString path = m_runtime.filePath(QStringLiteral("reconnect.log"));
        const QString link = m_runtime.filePath(QStringLiteral("usb-board-if00-port0"));
        auto terminal = std::make_unique<sim::PseudoTerminal>();
        auto board = std::make_unique<sim::RelayBoardSim>(*terminal);
        QVERIFY(QFile::link(terminal->slavePath(), link));
        Program program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        program.process.setProcessEnvironment(environment);
        program.process.start(kProgram, {"--port", "COM1=" + link, "--reconnect", "--log", path});
        QVERIFY(program.process.waitForStarted());
        showWindow(program, *terminal);

        board->hangUp();
        QVERIFY(QFile::remove(link));
        QTRY_VERIFY_WITH_TIMEOUT(recordLines(path).filter(u"\tlost\t").size() == 1, 10000);
        board.reset();
        terminal = std::make_unique<sim::PseudoTerminal>();
        board = std::make_unique<sim::RelayBoardSim>(*terminal);
        QSignalSpy accepted(board.get(), &sim::RelayBoardSim::frameAccepted);
        QElapsedTimer sinceReplug;
        const QDateTime replugged = QDateTime::currentDateTime();
        QVERIFY(QFile::link(terminal->slavePath(), link));
        sinceReplug.start();
        QTRY_VERIFY_WITH_TIMEOUT(recordLines(path).filter(u"\topened\t").size() == 2, 10000);
        const QDateTime reopened = QDateTime::fromString(
            recordLines(path).filter(u"\topened\t").last().section(u'\t', 0, 0), Qt::ISODateWithMs);
        qInfo("the new line was opened %lld ms after its link appeared",
              replugged.msecsTo(reopened));
        QTest::qWait(static_cast<int>(std::max<qint64>(3000 - sinceReplug.elapsed(), 0)));
        QCOMPARE(visibleWindows(program), 1);
        click(program, Control::on1);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
        QCOMPARE(visibleWindows(program), 1);
        stop(program);

        const QStringList events = eventsOf(recordLines(path), link);
        QCOMPARE(events.filter(QRegularExpression(QStringLiteral("^(opened|lost|sent|closed)"))),
                 (QStringList{"opened\tCOM1\t" + link + "\t9600,N,8,1\t",
                              "lost\tCOM1\t" + link + "\t串口 " + link +
                                  " 已断开（设备被拔出或对方挂断），端口已关闭。\t",
                              "opened\tCOM1\t" + link + "\t9600,N,8,1\t",
                              "sent\tCOM1\t" + link + "\tA0 01 03 A4\tA0 01 03 A4",
                              "closed\tCOM1\t" + link + "\t\t"}));
    }

    // What the board sent just before a stop signal is recorded before the close, although the
    // program reads a slow stream only once a frame: the second packet comes within a frame of
    // the first.
    void bytesBeforeAStopAreRecorded() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        const QString path = m_runtime.filePath(QStringLiteral("stop.log"));
        sim::PseudoTerminal terminal;
        Program program;
        start(program, terminal, {"--log", path});
        showWindow(program, terminal);
        const QString device = terminal.slavePath();
        const QString first = "received\tCOM1\t" + device + "\t\t11 22";
        QCOMPARE(::write(terminal.masterDescriptor(), "\x11\x22", 2), 2);
        QVERIFY(QTest::qWaitFor([&] { return eventsOf(recordLines(path), device).contains(first); },
                                10000));
        QCOMPARE(::write(terminal.masterDescriptor(), "\x33\x44", 2), 2);
        stop(program);

        QCOMPARE(eventsOf(recordLines(path), device),
                 (QStringList{"opened\tCOM1\t" + device + "\t9600,N,8,1\t", first,
                              "received\tCOM1\t" + device + "\t\t33 44",
                              "closed\tCOM1\t" + device + "\t\t"}));
    }

    // Killed at any moment, the program leaves a record that ends with a whole line.
    void killedProgramLeavesWholeLines() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        const QString path = m_runtime.filePath(QStringLiteral("killed.log"));
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        Program program;
        start(program, terminal, {"--log", path});
        showWindow(program, terminal);
        for (int i = 0; i < 5; ++i) {
            click(program, Control::Command11);
        }
        QTRY_VERIFY_WITH_TIMEOUT(accepted.size() >= 1, 10000);
        ::kill(static_cast<pid_t>(program.process.processId()), SIGKILL);
        QVERIFY(program.process.waitForFinished(20000));
        QCOMPARE(program.process.exitStatus(), QProcess::CrashExit);
        // A killed program cannot remove its lock; the test does, so that none is left behind.
        for (const QString& lock : support::lockFilesFor(terminal.slavePath())) {
            QFile::remove(lock);
        }

        QStringList lines = recordLines(path);
        QCOMPARE(lines.takeLast(), QString());
        QVERIFY(lines.size() >= 2);
        for (const QString& line : lines) {
            QVERIFY2(isWholeRecordLine(line), qPrintable(line));
        }
    }

    // Two copies on one file, each with its board, clicked in turn: their lines alternate and
    // every one is whole.
    void twoProgramsShareOneFile() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        const QString path = m_runtime.filePath(QStringLiteral("shared.log"));
        std::array<sim::PseudoTerminal, 2> terminals;
        sim::RelayBoardSim boardA(terminals[0]);
        sim::RelayBoardSim boardB(terminals[1]);
        QSignalSpy acceptedA(&boardA, &sim::RelayBoardSim::frameAccepted);
        QSignalSpy acceptedB(&boardB, &sim::RelayBoardSim::frameAccepted);
        std::array<Program, 2> programs;
        for (std::size_t i = 0; i < 2; ++i) {
            start(programs[i], terminals[i], {"--log", path});
            showWindow(programs[i], terminals[i]);
        }
        // Side by side, so that each click reaches the window it is meant for.
        xdotool({"windowmove", "--sync", programs[1].window, "640", "0"});
        constexpr int kClicks = 5;
        for (int i = 0; i < kClicks; ++i) {
            click(programs[0], Control::on1);
            click(programs[1], Control::off2);
        }
        QTRY_COMPARE_WITH_TIMEOUT(acceptedA.size(), kClicks, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(acceptedB.size(), kClicks, 20000);
        const std::array<QString, 2> frames{"A0 01 03 A4", "A0 02 02 A4"};
        // The echoes of clicks close together may come in one receive event.
        const auto echoed = [&](std::size_t i) {
            QStringList bytes;
            for (const QString& event : eventsOf(recordLines(path), terminals[i].slavePath())) {
                if (event.startsWith(u"received\t")) {
                    bytes << event.section(u'\t', 4);
                }
            }
            return bytes.join(u' ');
        };
        for (std::size_t i = 0; i < 2; ++i) {
            const QString all = QStringList(kClicks, frames[i]).join(u' ');
            QTRY_COMPARE_WITH_TIMEOUT(echoed(i), all, 10000);
        }
        for (Program& program : programs) {
            stop(program);
        }

        QStringList lines = recordLines(path);
        QCOMPARE(lines.takeLast(), QString());
        for (const QString& line : lines) {
            QVERIFY2(isWholeRecordLine(line), qPrintable(line));
        }
        for (std::size_t i = 0; i < 2; ++i) {
            const QStringList own = eventsOf(lines, terminals[i].slavePath());
            QVERIFY(own.first().startsWith(u"opened\t"));
            QVERIFY(own.last().startsWith(u"closed\t"));
            QCOMPARE(own.filter(QRegularExpression(u"^sent\t.*\t" + frames[i] + u"\t" + frames[i] +
                                                   u'$'))
                         .size(),
                     kClicks);
        }
    }

    // A record that cannot be written is one line on standard error and one message, and the
    // window goes on sending and says nothing more about it: a file removed after start-up, a
    // small filesystem that fills up while the program runs (mounted by the test, so skipped
    // where it may not mount), and a device that takes no byte (/dev/full), which fails at the
    // first event, the port's opening at start-up, so that the message comes before the window.
    void failingRecordIsOneMessage_data() {
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("reason");
        QTest::newRow("file removed") << "removed"
                                      << "the file was removed";
        QTest::newRow("filesystem full") << "full filesystem"
                                         << "No space left on device";
        QTest::newRow("device full") << "full device"
                                     << "No space left on device";
    }

    void failingRecordIsOneMessage() {
        QFETCH(QString, failure);
        QFETCH(QString, reason);
        if (failure == u"full device" && !QFile::exists(QStringLiteral("/dev/full"))) {
            QSKIP("this machine has no /dev/full");
        }
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        SmallFilesystem filesystem;
        if (failure == u"full filesystem" && !filesystem.mount()) {
            QSKIP("this machine does not let the test mount a small tmpfs (needs root)");
        }
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        QString path = m_runtime.filePath(QStringLiteral("removed.log"));
        // On the small filesystem the record starts so that the opening's line ends it exactly
        // at the end of its second page; the opening's line is the time (29), the event, COM1,
        // the device, the settings and five tabs and a line feed.
        const qint64 openedLine = 29 + 6 + 4 + terminal.slavePath().size() + 10 + 6;
        const qint64 pages = 2 * 4096;
        if (failure == u"full filesystem") {
            path = filesystem.filePath(QStringLiteral("record.log"));
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            QCOMPARE(earlier.write(QByteArray(pages - openedLine - 1, 'x') + '\n'),
                     pages - openedLine);
        } else if (failure == u"full device") {
            path = QStringLiteral("/dev/full");
        }

        Program program;
        start(program, terminal, {"--log", path});
        if (failure == u"full device") {
            const QString box = visibleWindow(program);
            QVERIFY(!box.isEmpty());
            QCOMPARE(visibleWindows(program), 1);
            xdotool({"key", "Return"});
            QTRY_VERIFY_WITH_TIMEOUT(
                !visibleWindow(program).isEmpty() && visibleWindow(program) != box, 10000);
            program.window = visibleWindow(program);
        } else {
            showWindow(program, terminal);
            if (failure == u"removed") {
                QVERIFY(QFile::remove(path));
            } else {
                QTRY_COMPARE(QFileInfo(path).size(), pages);
                QVERIFY(filesystem.fill());
            }
            click(program, Control::on1);
            QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
            answerTheMessage(program);
        }

        const qsizetype before = accepted.size();
        click(program, Control::off1);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), before + 1, 10000);
        QCOMPARE(accepted.last().first().toByteArray(), QByteArray::fromHex("A00102A3"));
        QCOMPARE(visibleWindows(program), 1);
        stop(program);
        const QStringList errors = recordErrors(program);
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(reason), qPrintable(errors.first()));
        if (failure == u"removed") {
            QVERIFY(!QFile::exists(path));
        } else if (failure == u"full filesystem") {
            // What was recorded before stays whole.
            QStringList lines = recordLines(path);
            QCOMPARE(lines.takeLast(), QString());
            QVERIFY2(isWholeRecordLine(lines.last()), qPrintable(lines.last()));
            QVERIFY(lines.last().contains(u"\topened\tCOM1\t"));
        }
    }

    // A file this user may not write ends the program before any window, with status 2.
    void unwritableRecordIsABadUsage() {
        if (!support::canRunUnprivileged()) {
            QSKIP("cannot run the program as a user held to file permissions");
        }
        QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("read-only.log"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                         QFile::ExeOwner | QFile::ReadOther |
                                                         QFile::ExeOther));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadOther));
        const support::ProgramRun run = support::runUnprivileged(kProgram, {"--log", path});
        QVERIFY2(run.finished, qPrintable(run.errors));
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errors.contains(u"cannot open the traffic record") &&
                     run.errors.contains(u"Permission denied"),
                 qPrintable(run.errors));
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

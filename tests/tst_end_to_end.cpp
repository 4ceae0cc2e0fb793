// The real program: its command line, and the program on a virtual X server driven by real
// input events (xdotool), sending frames to the simulated board on a pseudo-terminal. Stopping
// it with SIGTERM closes the port and leaves no lock behind. With --log it records the traffic:
// whole lines whether it is killed or shares the file with a second copy, and a record that
// cannot be written is one message in a window that goes on working.

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

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

Run runProgram(const QStringList& arguments) {
    QProcess process;
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

    // Starts a virtual display once; false, after saying why, when this machine cannot.
    bool haveDisplay() {
        for (const char* tool : {"Xvfb", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                qWarning("%s is not installed (scripts/setup test installs it)", tool);
                return false;
            }
        }
        if (m_display.isEmpty()) {
            // A display of its own; Xvfb says which number it took.
            m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "1280x800x24",
                                                  "-dpi", "96", "-nolisten", "tcp"});
            if (!m_xvfb.waitForReadyRead(20000)) {
                return false;
            }
            m_display = u':' + QString::fromLatin1(m_xvfb.readLine().trimmed());
        }
        return true;
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

private Q_SLOTS:
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

    // A record that fails after start-up (its file removed) is one line on standard error and
    // one message; the window goes on sending, and says nothing more about it.
    void failingRecordIsOneMessage() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        const QString path = m_runtime.filePath(QStringLiteral("removed.log"));
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        Program program;
        start(program, terminal, {"--log", path});
        showWindow(program, terminal);
        QVERIFY(QFile::remove(path));

        click(program, Control::on1);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(program), 2, 10000);
        xdotool({"key", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(program), 1, 10000);

        click(program, Control::off1);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 2, 10000);
        QCOMPARE(accepted.last().first().toByteArray(), QByteArray::fromHex("A00102A3"));
        QCOMPARE(visibleWindows(program), 1);
        stop(program);
        const QStringList errors = QString::fromLocal8Bit(program.process.readAllStandardError())
                                       .split(u'\n')
                                       .filter(u"traffic record");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(u"the file was removed"), qPrintable(errors.first()));
        QVERIFY(!QFile::exists(path));
    }

    // A small filesystem that fills up while the program runs: the next line finds no room, one
    // line on standard error and one message follow, and the window goes on sending.
    void fullFilesystemIsOneMessage() {
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        QTemporaryDir mountPoint;
        // Four pages: two for the record, two for a file that takes the rest.
        QProcess mount;
        mount.start(QStringLiteral("mount"),
                    {"-t", "tmpfs", "-o", "size=16k", "tmpfs", mountPoint.path()});
        if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit ||
            mount.exitCode() != 0) {
            QSKIP("this machine does not let the test mount a small tmpfs (needs root)");
        }
        const struct Unmount {
            QString path;
            ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
        } unmount{mountPoint.path()};

        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        const QString path = mountPoint.filePath(QStringLiteral("record.log"));
        // The record starts so that the opening's line ends it exactly at the end of its second
        // page; the opening's line is the time (29), the event, COM1, the device, the settings
        // and five tabs and a line feed.
        const qint64 openedLine = 29 + 6 + 4 + terminal.slavePath().size() + 10 + 6;
        const qint64 pages = 2 * 4096;
        {
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            QCOMPARE(earlier.write(QByteArray(pages - openedLine - 1, 'x') + '\n'),
                     pages - openedLine);
        }
        Program program;
        start(program, terminal, {"--log", path});
        showWindow(program, terminal);
        QTRY_COMPARE(QFileInfo(path).size(), pages);
        QFile filler(mountPoint.filePath(QStringLiteral("filler")));
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        while (filler.write(QByteArray(1024, 'f')) == 1024) {
        }
        filler.close();

        click(program, Control::on1);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(program), 2, 10000);
        xdotool({"key", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(visibleWindows(program), 1, 10000);
        click(program, Control::on2);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 2, 10000);
        QCOMPARE(accepted.last().first().toByteArray(), QByteArray::fromHex("A00203A5"));
        QCOMPARE(visibleWindows(program), 1);
        stop(program);

        const QStringList errors = QString::fromLocal8Bit(program.process.readAllStandardError())
                                       .split(u'\n')
                                       .filter(u"traffic record");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(u"No space left on device"), qPrintable(errors.first()));
        // What was recorded before stays whole.
        QStringList lines = recordLines(path);
        QCOMPARE(lines.takeLast(), QString());
        QVERIFY2(isWholeRecordLine(lines.last()), qPrintable(lines.last()));
        QVERIFY(lines.last().contains(u"\topened\tCOM1\t"));
    }

    // A device that takes no byte (/dev/full) fails at the first event, the port's opening at
    // start-up: the message comes before the window, which then shows and works.
    void fullDeviceIsOneMessageBeforeTheWindow() {
        if (!QFile::exists(QStringLiteral("/dev/full"))) {
            QSKIP("this machine has no /dev/full");
        }
        if (!haveDisplay()) {
            QSKIP("no virtual display");
        }
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &sim::RelayBoardSim::frameAccepted);
        Program program;
        start(program, terminal, {"--log", "/dev/full"});
        const QString box = visibleWindow(program);
        QVERIFY(!box.isEmpty());
        QCOMPARE(visibleWindows(program), 1);
        xdotool({"key", "Return"});
        QTRY_VERIFY_WITH_TIMEOUT(!visibleWindow(program).isEmpty() && visibleWindow(program) != box,
                                 10000);
        program.window = visibleWindow(program);
        click(program, Control::on1);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.size(), 1, 10000);
        QCOMPARE(visibleWindows(program), 1);
        stop(program);
        const QStringList errors = QString::fromLocal8Bit(program.process.readAllStandardError())
                                       .split(u'\n')
                                       .filter(u"traffic record");
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors.first().contains(u"No space left on device"), qPrintable(errors.first()));
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

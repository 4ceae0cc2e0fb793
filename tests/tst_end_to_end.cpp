// The real program: its command line, and the program on a virtual X server driven by real
// input events (xdotool), sending frames to the simulated board on a pseudo-terminal. Stopping
// it with SIGTERM closes the port and leaves no lock behind.

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "serial/pseudo_terminal.h"
#include "serial/relay_board_sim.h"
#include "support/line_checks.h"
#include "ui/layout.h"

using ui::Control;

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

    // Qt's own options reach Qt: -platform offscreen lets the program run with no display at
    // all, where the environment asks for X.
    void qtOptionsRun() {
        serial::PseudoTerminal terminal;
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
        QTRY_VERIFY_WITH_TIMEOUT(!support::lockFilesFor(terminal.slavePath()).isEmpty() ||
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
        for (const char* tool : {"Xvfb", "xdotool"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
                QSKIP(qPrintable(QString::fromLatin1(tool) +
                                 u" is not installed (scripts/setup test installs it)"));
            }
        }
        serial::PseudoTerminal terminal;
        serial::RelayBoardSim board(terminal);
        QSignalSpy accepted(&board, &serial::RelayBoardSim::frameAccepted);

        // A display of its own; Xvfb says which number it took.
        m_xvfb.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "800x600x24",
                                              "-dpi", "96", "-nolisten", "tcp"});
        QVERIFY(m_xvfb.waitForReadyRead(20000));
        m_display = u':' + QString::fromLatin1(m_xvfb.readLine().trimmed());

        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime.path());
        program.setProcessEnvironment(environment);
        program.start(kProgram, {"--port", "COM1=" + terminal.slavePath()});
        QVERIFY(program.waitForStarted());

        const QString window =
            xdotool({"search", "--sync", "--onlyvisible", "--classname", "zeva-relay-test"})
                .section(u'\n', 0, 0);
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

    void cleanupTestCase() {
        if (m_xvfb.state() != QProcess::NotRunning) {
            m_xvfb.terminate();
            m_xvfb.waitForFinished(10000);
        }
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"

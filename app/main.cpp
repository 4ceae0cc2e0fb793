// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: reads the command line, opens the traffic record's file for --log, creates the
// serial device (and with --simulate the simulated board on a pseudo-terminal, with its panel
// beside the window), runs the window's start-up before the window is first shown, and runs the
// event loop until the window is closed. Leaving main closes the port and releases its lock; so
// does a stop signal, whenever it comes (quit_on_signal.h).

#include <QApplication>
#include <QCoreApplication>
#include <QLocale>
#include <QSerialPortInfo>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <variant>

#include "app/command_line.h"
#include "app/port_list.h"
#include "app/quit_on_signal.h"
#include "app/record_file.h"
#include "app/standard_streams.h"
#include "serial/linux_comm_device.h"
#include "serial/port_follower.h"
#include "sim/board_panel.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "ui/accessible.h"
#include "ui/main_window.h"
#include "ui/qt_translations.h"

namespace {

// Help, version and the port list need no display, so the command line is read before the
// window system is touched.
std::variant<app::Options, app::Exit> readCommandLine(int argc, char* argv[]) {
    const QCoreApplication core(argc, argv);
    return app::parseCommandLine(QCoreApplication::arguments());
}

// Writes a result to standard output. Output that cannot be written (a full disk, /dev/full) fails
// the program with a message on standard error, as GNU tools do, so that a script never takes a
// lost result for a good one.
int writeResult(const QString& text) {
    errno = 0;
    if (std::fputs(text.toLocal8Bit().constData(), stdout) >= 0 && std::fflush(stdout) == 0) {
        return 0;
    }
    const int error = errno;
    std::fprintf(stderr, "zeva-relay-test: write error%s%s\n", error != 0 ? ": " : "",
                 error != 0 ? std::strerror(error) : "");
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    // First of all, before the stop-signal pipe or any file takes a closed stream's number.
    const app::StandardStreams streams = app::openClosedStandardStreams();
    app::catchStopSignals();
    auto parsed = readCommandLine(argc, argv);
    if (const auto* exit = std::get_if<app::Exit>(&parsed)) {
        if (exit->status == 0) {
            return writeResult(exit->text);
        }
        std::fputs(exit->text.toLocal8Bit().constData(), stderr);
        return exit->status;
    }
    app::Options options = std::get<app::Options>(std::move(parsed));
    if (options.listPorts) {
        const QString list = app::portList(serial::PortNumbering(options.bindings),
                                           QSerialPortInfo::availablePorts());
        return writeResult(list);
    }
    // A record that cannot be kept is a usage error, found before any window opens.
    std::unique_ptr<app::RecordFile> record;
    if (options.log) {
        QString error;
        if (*options.log == u"-" && streams.outputClosed) {
            error = QStringLiteral(
                "zeva-relay-test: cannot open the traffic record 'standard output': it is "
                "closed\n");
        } else {
            record = app::RecordFile::open(*options.log, error);
        }
        if (!record) {
            std::fputs(error.toLocal8Bit().constData(), stderr);
            return app::kExitBadUsage;
        }
        // A record on a pipe whose reader has gone fails with EPIPE and stops, instead of the
        // signal ending the program.
        std::signal(SIGPIPE, SIG_IGN);
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zeva-relay-test"));
    QApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral("zeva-relay-test"));
    ui::installQtTranslations(QLocale::system());
    ui::installAccessibleInterfaces();

    std::unique_ptr<sim::PseudoTerminal> terminal;
    std::unique_ptr<sim::RelayBoardSim> board;
    if (options.simulate) {
        terminal = std::make_unique<sim::PseudoTerminal>();
        if (!terminal->isOpen()) {
            std::fprintf(stderr, "zeva-relay-test: cannot create the simulated board's line: %s\n",
                         qPrintable(terminal->errorString()));
            return 1;
        }
        board = std::make_unique<sim::RelayBoardSim>(*terminal);
        options.bindings[1] = terminal->slavePath();
    }

    serial::LinuxCommDevice device{serial::PortNumbering(options.bindings)};
    // The boxes say only that a port failed; the whole reason goes to standard error as well.
    // With --reconnect the same reason comes with every attempt while a board is awaited, and
    // is said once until it changes.
    QObject::connect(
        &device, &serial::LinuxCommDevice::openFailed, &device,
        [once = options.reconnect, said = QString()](const QString& description) mutable {
            if (once && description == said) {
                return;
            }
            said = description;
            std::fprintf(stderr, "zeva-relay-test: %s\n", description.toLocal8Bit().constData());
        });
    if (app::stopRequested()) {
        return 0;
    }
    if (record) {
        record->setDevicePaths(device.portInfo().devicePath);
    }
    // Before the window, whose logic lets go of it as it ends.
    serial::PortFollower follower(device.numbering());
    ui::MainWindow window(device, device.portInfo(), record ? *record : logic::noTrafficRecord());
    if (options.reconnect) {
        window.logic().followDevices(follower);
    }
    // The simulated board's panel, and any other window, show the main window's icon.
    QApplication::setWindowIcon(window.windowIcon());
    // The port closes as the program ends, when the window is closed or on a stop signal: what
    // the board sent before is shown and recorded first, then the close.
    const auto closePort = [&] { window.logic().closeAtExit(); };
    // Watching from before the start-up, whose message box runs the first event loop.
    const app::QuitOnSignal quitOnSignal(closePort);
    window.load();
    window.show();
    std::unique_ptr<sim::BoardPanel> panel;
    if (board) {
        panel = std::make_unique<sim::BoardPanel>(*board, terminal->slavePath());
        panel->move(window.frameGeometry().topRight() + QPoint(12, 0));
        panel->show();
    }
    const int status = QApplication::exec();
    closePort();
    return status;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up: reads the command line, opens the traffic record's file for --log, creates the
// serial device (and with --simulate the simulated board on a pseudo-terminal, with its panel
// beside the window), runs the window's start-up before the window is first shown, and runs the
// event loop until the window is closed. Leaving main closes the port and releases its lock; so
// does a stop signal, whenever it comes (quit_on_signal.h).

#include <QApplication>
#include <QCoreApplication>
#include <QSerialPortInfo>
#include <csignal>
#include <cstdio>
#include <memory>
#include <variant>

#include "app/command_line.h"
#include "app/port_list.h"
#include "app/quit_on_signal.h"
#include "app/record_file.h"
#include "app/standard_streams.h"
#include "serial/linux_comm_device.h"
#include "sim/board_panel.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "ui/main_window.h"

namespace {

// Help, version and the port list need no display, so the command line is read before the
// window system is touched.
std::variant<app::Options, app::Exit> readCommandLine(int argc, char* argv[]) {
    const QCoreApplication core(argc, argv);
    return app::parseCommandLine(QCoreApplication::arguments());
}

}  // namespace

int main(int argc, char* argv[]) {
    // First of all, before the stop-signal pipe or any file takes a closed stream's number.
    const app::StandardStreams streams = app::openClosedStandardStreams();
    app::catchStopSignals();
    auto parsed = readCommandLine(argc, argv);
    if (const auto* exit = std::get_if<app::Exit>(&parsed)) {
        std::fputs(exit->text.toLocal8Bit().constData(), exit->status == 0 ? stdout : stderr);
        return exit->status;
    }
    app::Options options = std::get<app::Options>(std::move(parsed));
    if (options.listPorts) {
        const QString list = app::portList(serial::PortNumbering(options.bindings),
                                           QSerialPortInfo::availablePorts());
        std::fputs(list.toLocal8Bit().constData(), stdout);
        return 0;
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
    QObject::connect(
        &device, &serial::LinuxCommDevice::openFailed, &device, [](const QString& description) {
            std::fprintf(stderr, "zeva-relay-test: %s\n", description.toLocal8Bit().constData());
        });
    if (app::stopRequested()) {
        return 0;
    }
    if (record) {
        record->setDevicePaths(device.portInfo().devicePath);
    }
    ui::MainWindow window(device, device.portInfo(), record ? *record : logic::noTrafficRecord());
    // The simulated board's panel, and any other window, show the main window's icon.
    QApplication::setWindowIcon(window.windowIcon());
    // The port closes as the program ends, when the window is closed or on a stop signal; the
    // record says so first.
    const auto closePort = [&] {
        const std::int16_t openPort = window.logic().portManager().OpenedPort();
        if (record && openPort != 0 && device.PortOpen()) {
            record->portClosed(openPort);
        }
        device.PortOpen(false);
    };
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

// SPDX-License-Identifier: GPL-3.0-or-later
// zeva-relay: the relay board from scripts. Reads the command line, prints the port list, or
// opens the traffic record, chooses the port and runs the script on the serial device, ending
// with the run's status. A stop signal ends the run after the current frame (runner.h). Qt Core
// and Qt Serial Port only: it runs where there is no display.

#include <unistd.h>

#include <QCoreApplication>
#include <QSerialPortInfo>
#include <csignal>
#include <cstdio>
#include <memory>
#include <variant>

#include "app/port_list.h"
#include "app/quit_on_signal.h"
#include "app/record_file.h"
#include "relay/port_table.h"
#include "relay/runner.h"
#include "relay/script.h"
#include "serial/linux_comm_device.h"

int main(int argc, char* argv[]) {
    app::catchStopSignals();
    // Qt's own event dispatcher rather than GLib's, which wakes its loop through its eventfd
    // whenever a socket notifier is switched on or off, as QSerialPort does around every write:
    // that was a third of the system calls of an echoed frame.
    qputenv("QT_NO_GLIB", "1");
    const QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zeva-relay"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_TEXT));
    // Standard output closed by its reader is a write error, status 1, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);

    const auto parsed = relay::parseArguments(QCoreApplication::arguments());
    if (const auto* exit = std::get_if<app::Exit>(&parsed)) {
        std::fputs(exit->text.toLocal8Bit().constData(), exit->status == 0 ? stdout : stderr);
        return exit->status;
    }
    if (const auto* list = std::get_if<relay::ListPorts>(&parsed)) {
        const QList<app::NumberedPort> ports =
            app::numberedPorts(serial::PortNumbering(), QSerialPortInfo::availablePorts());
        const QByteArray text =
            list->json ? relay::portJson(ports) : relay::portTable(ports).toLocal8Bit();
        const bool written = std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()),
                                         stdout) == static_cast<std::size_t>(text.size()) &&
                             std::fflush(stdout) == 0;
        if (!written) {
            std::fputs("zeva-relay: cannot write to standard output\n", stderr);
        }
        return written ? 0 : relay::kExitFrameFailed;
    }
    const relay::Script& script = std::get<relay::Script>(parsed);

    std::unique_ptr<app::RecordFile> record;
    if (script.log) {
        QString error;
        record = app::RecordFile::open(*script.log, error);
        if (!record) {
            std::fputs(error.toLocal8Bit().constData(), stderr);
            return relay::kExitBadUsage;
        }
    }
    const relay::PortChoice choice = relay::choosePort(script.port, script.log.has_value());
    serial::LinuxCommDevice device(choice.numbering);
    if (record) {
        record->setDevicePaths(device.portInfo().devicePath);
    }
    relay::Runner runner(script, device, choice.number, script.port,
                         record ? *record : logic::noTrafficRecord());
    runner.setOutput(stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    const app::StopSignalNotifier stopOnSignal([&runner] { runner.stop(128 + app::stopSignal()); });
    if (app::stopRequested()) {
        return 128 + app::stopSignal();
    }
    return runner.run();
}

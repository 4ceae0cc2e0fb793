// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's command line. Without arguments the program behaves as it always has; the
// options are Linux additions: bind a COM number to a device path, try the program on the
// built-in simulated board, list the ports, or keep a record of the traffic in a file. Qt's own
// options (-platform, -style, -reverse ...) are stepped over and left for QApplication.

#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "serial/port_numbering.h"

namespace app {

inline constexpr int kExitBadUsage = 2;

struct Options {
    serial::PortNumbering::Bindings bindings;
    bool simulate = false;
    bool listPorts = false;
    // Follow the board across re-plugs: reopen the same device when it comes back.
    bool reconnect = false;
    // The traffic record's file, "-" for standard output; none without --log.
    std::optional<QString> log;
};

// What the command line asks for: run with options, or print a text and exit with a status.
struct Exit {
    QString text;
    int status = 0;
};

// Reads `arguments` (the program's name first). Help and version print to standard output
// with status 0; an unknown option or a malformed binding gives a message and kExitBadUsage.
// A binding's path comes back absolute: a name without '/' is taken under /dev, any other path
// relative to the current directory.
std::variant<Options, Exit> parseCommandLine(const QStringList& arguments);

// The device a port's path names, made absolute as a binding's path is.
QString devicePath(const QString& path);

}  // namespace app

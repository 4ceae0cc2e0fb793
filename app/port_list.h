// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The text of --list-ports: the COM numbering the program would use now, one line per number,
// with what is known of each device. It needs no display and opens no port.

#include <QString>
#include <QStringList>

#include "serial/port_numbering.h"
#include "serial/port_report.h"

namespace app {

// One line, without its newline, for COM`number` standing for the device `report` describes.
QString portLine(int number, const serial::PortReport& report);

struct NumberedPort {
    int number = 0;
    // What is known of the device; its path is empty for a number without one.
    serial::PortReport report;
};

// COM1 to COM4, and any further port of `ports` (the machine's, as Qt lists them), numbered as
// `numbering` does, each with its report.
QList<NumberedPort> numberedPorts(const serial::PortNumbering& numbering,
                                  const QList<QSerialPortInfo>& ports);

// Every line: COM1 to COM4, and any further port of `ports` (the machine's, as Qt lists them),
// numbered as `numbering` does.
QString portList(const serial::PortNumbering& numbering, const QList<QSerialPortInfo>& ports);

}  // namespace app

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The text of --list-ports: the COM numbering the program would use now, one line per number,
// with what is known of each device. It needs no display and opens no port.

#include <QString>
#include <QStringList>
#include <functional>

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

// COM1 to COM4, and any further port of `systemPorts` (the machine's device paths), numbered as
// `numbering` does, each with what `report` tells of its device path.
QList<NumberedPort> numberedPorts(const serial::PortNumbering& numbering,
                                  const QStringList& systemPorts,
                                  const std::function<serial::PortReport(const QString&)>& report);

// The same for `ports`, the machine's ports as Qt lists them.
QList<NumberedPort> numberedPorts(const serial::PortNumbering& numbering,
                                  const QList<QSerialPortInfo>& ports);

// Every line, for the ports numberedPorts gives.
QString portList(const serial::PortNumbering& numbering, const QStringList& systemPorts,
                 const std::function<serial::PortReport(const QString&)>& report);

// The same for `ports`, the machine's ports as Qt lists them.
QString portList(const serial::PortNumbering& numbering, const QList<QSerialPortInfo>& ports);

}  // namespace app

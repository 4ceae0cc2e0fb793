// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window offers COM1 to COM4, as the Windows program it imitates does; on Linux a serial port
// is a device path. PortNumbering turns a COM number into a path in the order a Windows program
// run on Linux is shown the machine's ports, so a board shows up where a Windows user would look
// for it:
//
//   1. the on-board UARTs, /dev/ttyS*, that Qt lists as present,
//   2. USB serial adapters, /dev/ttyUSB*,
//   3. USB CDC-ACM devices, /dev/ttyACM*,
//   4. every other port Qt lists,
//
// each group in numeric order (ttyS2 before ttyS10; Qt hands them over in udev's order). COMn is
// the n-th port of that list; with fewer than n ports COMn has no path.
//
// Explicit bindings, COMn to a path, override the numbering for their numbers and for nothing
// else: the other numbers keep the machine's order, so one device may answer to two numbers.
// Pseudo-terminals are never in Qt's list; bindings are how the tests and the simulated board are
// reached.
//
// The device resolves a number at every probe and open, so an adapter plugged in while the
// program runs is found. The ordering itself is a pure function of a list of paths.
//
// While the program follows a board across re-plugs (--reconnect), a number can be pinned to the
// device it opened: a pin overrides both, and an empty pin means that device is not there now,
// whatever the machine's numbering would give.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>

namespace serial {

class PortNumbering {
public:
    using Bindings = std::map<std::int16_t, QString>;

    PortNumbering() = default;
    // `listPorts` lists the machine's ports for the numbers without a binding; tests hand in
    // pseudo-terminals.
    explicit PortNumbering(Bindings bindings, std::function<QStringList()> listPorts = &systemPorts)
        : m_bindings(std::move(bindings)), m_listPorts(std::move(listPorts)) {}

    // `ports` (device paths such as "/dev/ttyUSB0") in COM order, each path once.
    static QStringList comOrder(const QStringList& ports);

    // The device paths of the serial ports Qt lists now, in Qt's order.
    static QStringList systemPorts();

    // The path COM`port` resolves to among `ports`: its pin or its binding if it has one,
    // otherwise the port-th entry of comOrder(ports); empty when there is none.
    QString resolve(std::int16_t port, const QStringList& ports) const;

    // The same against the ports `listPorts` returns. It is called only for a number without a
    // binding: listing the machine's ports walks udev's view of every tty, some 15 ms at each
    // probe and open.
    QString resolve(std::int16_t port, const std::function<QStringList()>& listPorts) const;

    // The same against the ports listed now.
    QString resolve(std::int16_t port) const { return resolve(port, m_listPorts); }

    const Bindings& bindings() const { return m_bindings; }

    // Keeps COM`port` on `path`, or on no device when `path` is empty, until unpinAll().
    void pin(std::int16_t port, const QString& path) { m_pins[port] = path; }
    void unpinAll() { m_pins.clear(); }

private:
    Bindings m_bindings;
    std::function<QStringList()> m_listPorts = &systemPorts;
    Bindings m_pins;
};

}  // namespace serial

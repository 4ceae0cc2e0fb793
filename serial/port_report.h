// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What can be known of a serial device without opening it, for the port list on the command line
// and for the device's own error texts: the adapter's identity, the stable name to bind it by,
// whether another program holds it, and whether this user may open it. Opening a port only to
// look at it would pulse its modem lines and could reset the board behind it, so nothing here
// opens the device.

#include <sys/types.h>

#include <QList>
#include <QSerialPortInfo>
#include <QString>

namespace serial {

struct PortReport {
    // Who holds the device, as far as this user can see.
    enum class Holder {
        None,
        Lock,       // a live process's lock file: lockFile, pid
        LockNoOne,  // a lock file that names no process: lockFile
        NotAFile,   // something other than a file at the lock path: lockFile, lockType
        Flock,      // an flock on the device: pid
        OpenFile,   // open in a process this user can see: pid
    };

    QString path;  // as bound or numbered
    QString node;  // the device node it leads to; empty when there is none
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString byIdName;  // the /dev/serial/by-id name of the node, if it has one
    Holder holder = Holder::None;
    pid_t pid = 0;
    QString holderName;  // the holder's program name, when the system tells it
    QString lockFile;
    mode_t lockType = 0;  // for NotAFile: S_IFIFO, S_IFLNK, S_IFDIR ...
    bool mayOpen = true;
    QString group;  // the group that owns the node, which grants access to it
};

// What is known of `path`; its identity is looked up among `ports`, the machine's ports as Qt
// lists them.
PortReport reportPort(const QString& path, const QList<QSerialPortInfo>& ports);

// The /dev/serial/by-id link that leads to device node `node`; empty when none does.
QString byIdName(const QString& node);

// True when the operating system refuses this user reading and writing `path`.
bool permissionDenied(const QString& path);

// The name of the group that owns `path`, its number when it has no name.
QString owningGroup(const QString& path);

}  // namespace serial

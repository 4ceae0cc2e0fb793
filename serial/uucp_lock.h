// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The UUCP lock files serial programs leave in the machine's lock folder, one per device:
// "LCK.." and the device's name under /dev with '/' turned into '_' (LCK..ttyUSB0,
// LCK..pts_0). Qt's serial port takes one on every open, but counts any lock without its own
// program-name line as stale and takes it over, so the device reads the lock itself first.
//
// The contents name the holder's process ID in one of the forms in use:
//   - ASCII: the PID, usually right-aligned in ten characters, and a newline; some programs put
//     their name and the user's on the same line after it ("     12345 minicom root");
//   - Qt's: the PID, the program's name and the host name on lines of their own, more after;
//   - the old binary form: the PID as four bytes in the machine's byte order, nothing else.
// A lock whose process is alive holds the port. A lock whose process is gone is stale. A lock
// that names no process (empty, unreadable, a PID of 0, negative or beyond any process) is
// treated as held: it may belong to a program still writing it, and only the operator can tell.
// So is anything but a regular file at the lock path (a FIFO, a symlink, a folder): any user may
// put one there, and it is never read, since opening a FIFO to read it would wait for a writer.

#include <sys/types.h>

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace serial::uucp_lock {

// The PID that lock-file `contents` name; empty when they name none.
std::optional<pid_t> pidFromContents(const QByteArray& contents);

// Whether process `pid` exists, also when it belongs to another user.
bool processAlive(pid_t pid);

// The lock file Qt's serial port takes for `devicePath`: in the first lock folder of Qt's list
// that this user can use, named after the path. Give it the device's canonical path, so that
// every name of one device shares one lock.
QString lockFilePath(const QString& devicePath);

struct Lock {
    enum class State {
        Free,        // no lock file
        Held,        // its process is alive
        Stale,       // its process is gone
        NamesNoOne,  // it names no process, or cannot be read
        NotAFile,    // something other than a regular file stands at the lock path
    };
    State state = State::Free;
    pid_t pid = 0;      // for Held and Stale
    QString readError;  // for NamesNoOne: the system's reason when the file cannot be read
    mode_t type = 0;    // for NotAFile: its type, S_IFIFO, S_IFLNK, S_IFDIR ...
};

// What the lock file at `file` says now; `alive` tells a live process from a dead one.
Lock readLock(const QString& file, const std::function<bool(pid_t)>& alive = processAlive);

// The name of process `pid` as the system lists it ("minicom"); empty when it cannot be read.
QString processName(pid_t pid);

}  // namespace serial::uucp_lock

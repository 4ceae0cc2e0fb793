// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Checks the serial tests share: the lock files a port leaves in the machine's lock folders,
// whether the process keeps a core busy (a port that reports its errors over and over), and a
// helper program run as a user the operating system holds to file permissions.

#include <QString>
#include <QStringList>

namespace support {

// Empty when this machine gives pseudo-terminals; otherwise why not, for a test to skip with.
QString whyNoPseudoTerminal();

// The lock files Qt's serial port may have left for `path`, in every folder it may choose.
QStringList lockFilesFor(const QString& path);
// Those of them that this process holds. Once a pseudo-terminal is closed another process may
// get its name and lock it, so what a test leaves behind is told by the pid in the lock.
QStringList ownLockFilesFor(const QString& path);

// A process ID that no process can have now: the system's PIDs stay below pid_max.
int deadPid();

// CPU time the whole process spends while the event loop runs for one second.
double cpuSecondsOverOneSecond();

// Whether a program can be run as a user held to file permissions and a line's exclusive flag:
// root is held to neither, so as root it runs as nobody, through setpriv.
bool canRunUnprivileged();

struct ProgramRun {
    bool finished = false;
    int exitCode = -1;
    QStringList lines;  // standard output
    QString errors;     // standard error, or why the program did not finish
};

// Runs `program` with `arguments` as such a user and waits for it.
ProgramRun runUnprivileged(const QString& program, const QStringList& arguments);

}  // namespace support

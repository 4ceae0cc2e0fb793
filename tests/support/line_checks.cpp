// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/line_checks.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <ctime>

#include "sim/pseudo_terminal.h"

namespace support {

namespace {

double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

QString whyNoPseudoTerminal() {
    const sim::PseudoTerminal terminal;
    return terminal.isOpen() ? QString()
                             : u"this machine gives no pseudo-terminal: " + terminal.errorString();
}

QStringList lockFilesFor(const QString& path) {
    static const QStringList kFolders{"/var/lock",         "/etc/locks", "/var/spool/locks",
                                      "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                      "/var/lock/lockdev", "/run/lock"};
    QString name = path.startsWith(u"/dev/") ? path.mid(5) : path;
    name.replace(u'/', u'_');
    QStringList present;
    for (const QString& folder : kFolders) {
        const QString file = folder + u"/LCK.." + name;
        if (QFileInfo::exists(file)) {
            present.append(file);
        }
    }
    return present;
}

QStringList ownLockFilesFor(const QString& path) {
    QStringList own;
    for (const QString& file : lockFilesFor(path)) {
        QFile lock(file);
        if (lock.open(QIODevice::ReadOnly) &&
            lock.readLine().trimmed().toLongLong() == ::getpid()) {
            own.append(file);
        }
    }
    return own;
}

int deadPid() {
    QFile file(QStringLiteral("/proc/sys/kernel/pid_max"));
    // 2^22 is the most pid_max can be on any Linux machine.
    if (!file.open(QIODevice::ReadOnly)) {
        return 1 << 22;
    }
    return file.readAll().trimmed().toInt();
}

double cpuSecondsOverOneSecond() {
    const double start = processCpuSeconds();
    QTest::qWait(1000);
    return processCpuSeconds() - start;
}

bool canRunUnprivileged() {
    return ::geteuid() != 0 || !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

ProgramRun runUnprivileged(const QString& program, const QStringList& arguments) {
    QProcess process;
    if (::geteuid() == 0) {
        process.setProgram(QStandardPaths::findExecutable(QStringLiteral("setpriv")));
        process.setArguments(
            QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", program} +
            arguments);
    } else {
        process.setProgram(program);
        process.setArguments(arguments);
    }
    process.start();
    ProgramRun run;
    if (!process.waitForFinished(30000)) {
        run.errors = QStringLiteral("did not finish: ") + process.errorString();
        return run;
    }
    run.finished = process.exitStatus() == QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

}  // namespace support

// SPDX-License-Identifier: GPL-3.0-or-later
// Reading other programs' lock files: every format in use, live and dead holders, and files that
// name no process.

#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>
#include <cstdint>

#include "serial/uucp_lock.h"
#include "sim/pseudo_terminal.h"
#include "support/line_checks.h"

namespace uucp_lock = serial::uucp_lock;
using State = uucp_lock::Lock::State;

namespace {

pid_t deadPid() {
    return static_cast<pid_t>(support::deadPid());
}

QByteArray binaryPid(std::int32_t pid) {
    return {reinterpret_cast<const char*>(&pid), sizeof pid};
}

QByteArray asciiPid(qint64 pid, const QByteArray& rest = "\n") {
    return QByteArray::number(pid).rightJustified(10, ' ') + rest;
}

}  // namespace

class TestUucpLock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void contents_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("pid");  // 0: names no process
        QTest::newRow("ascii, ten characters") << asciiPid(4242) << 4242;
        QTest::newRow("ascii, program and user") << asciiPid(4242, " minicom root\n") << 4242;
        QTest::newRow("ascii, no padding, no newline") << QByteArray("4242") << 4242;
        QTest::newRow("qt's lines") << QByteArray("4242\nzeva-relay-test\nhost\nid\n1\n") << 4242;
        QTest::newRow("binary") << binaryPid(4242) << 4242;
        QTest::newRow("binary, largest") << binaryPid(2147483647) << 2147483647;
        QTest::newRow("ascii of four bytes, not binary") << QByteArray("123\n") << 123;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("blank") << QByteArray("          \n") << 0;
        QTest::newRow("garbage") << QByteArray("hello\n") << 0;
        QTest::newRow("digits then garbage") << QByteArray("42abc\n") << 0;
        QTest::newRow("pid 0, ascii") << asciiPid(0) << 0;
        QTest::newRow("pid 0, binary") << binaryPid(0) << 0;
        QTest::newRow("negative, ascii") << QByteArray("       -42\n") << 0;
        QTest::newRow("negative, binary") << binaryPid(-42) << 0;
        QTest::newRow("past pid_t") << QByteArray("2147483648\n") << 0;
        // One digit more than the largest PID, not the largest PID.
        QTest::newRow("largest pid and one digit") << QByteArray("21474836470\n") << 0;
        QTest::newRow("huge") << QByteArray("99999999999999999999999999\n") << 0;
        QTest::newRow("five bytes, not binary") << QByteArray("\x01\x02\x03\x04\x05", 5) << 0;
    }

    void contents() {
        QFETCH(QByteArray, contents);
        QFETCH(int, pid);
        const std::optional<pid_t> read = uucp_lock::pidFromContents(contents);
        QCOMPARE(read.value_or(0), pid);
    }

    void aliveOrNot_data() {
        QTest::addColumn<int>("pid");
        QTest::addColumn<bool>("alive");
        QTest::newRow("this process") << int(::getpid()) << true;
        // Another user's process refuses the signal (EPERM), yet is there.
        QTest::newRow("init") << 1 << true;
        QTest::newRow("none") << int(deadPid()) << false;
        QTest::newRow("0, the process group") << 0 << false;
        QTest::newRow("-1, every process") << -1 << false;
    }

    void aliveOrNot() {
        QFETCH(int, pid);
        QFETCH(bool, alive);
        QCOMPARE(uucp_lock::processAlive(pid), alive);
    }

    void readLock_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("pid");
        const pid_t live = ::getpid();
        const pid_t dead = deadPid();
        const struct {
            const char* name;
            QByteArray (*contents)(pid_t);
        } formats[] = {
            {"ascii", [](pid_t pid) { return asciiPid(pid); }},
            {"ascii with names", [](pid_t pid) { return asciiPid(pid, " picocom root\n"); }},
            {"qt",
             [](pid_t pid) -> QByteArray { return QByteArray::number(pid) + "\nprogram\nhost\n"; }},
            {"binary", [](pid_t pid) { return binaryPid(pid); }},
        };
        for (const auto& format : formats) {
            QTest::addRow("%s, live", format.name)
                << format.contents(live) << int(State::Held) << int(live);
            QTest::addRow("%s, dead", format.name)
                << format.contents(dead) << int(State::Stale) << int(dead);
        }
        QTest::newRow("empty") << QByteArray() << int(State::NamesNoOne) << 0;
        QTest::newRow("garbage") << QByteArray("lock\n") << int(State::NamesNoOne) << 0;
        QTest::newRow("pid 0") << asciiPid(0) << int(State::NamesNoOne) << 0;
    }

    void readLock() {
        QFETCH(QByteArray, contents);
        QFETCH(int, state);
        QFETCH(int, pid);
        const QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("LCK..ttyUSB0"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();
        const uucp_lock::Lock lock = uucp_lock::readLock(path);
        QCOMPARE(int(lock.state), state);
        QCOMPARE(int(lock.pid), pid);
        QCOMPARE(QFile(path).size(), contents.size());
    }

    // Anything but a regular file at the lock path counts as held and is not read: a FIFO (which
    // an open for reading would wait on until someone writes), a symlink, even to a live lock,
    // a folder.
    void notAFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("type");
        QTest::newRow("fifo") << "fifo" << int(S_IFIFO);
        QTest::newRow("symlink to a live lock") << "symlink" << int(S_IFLNK);
        QTest::newRow("folder") << "folder" << int(S_IFDIR);
    }

    void notAFile() {
        QFETCH(QString, kind);
        QFETCH(int, type);
        const QTemporaryDir folder;
        const QString path = folder.filePath(QStringLiteral("LCK..ttyUSB0"));
        const QByteArray name = QFile::encodeName(path);
        if (kind == u"fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0644), 0);
        } else if (kind == u"symlink") {
            const QString target = folder.filePath(QStringLiteral("lock"));
            QFile file(target);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(asciiPid(::getpid()));
            file.close();
            QVERIFY(QFile::link(target, path));
        } else {
            QCOMPARE(::mkdir(name.constData(), 0755), 0);
        }
        const uucp_lock::Lock lock = uucp_lock::readLock(path);
        QCOMPARE(int(lock.state), int(State::NotAFile));
        QCOMPARE(int(lock.type), type);
        QCOMPARE(int(lock.pid), 0);
    }

    void noFileIsFree() {
        const QTemporaryDir folder;
        QCOMPARE(int(uucp_lock::readLock(folder.filePath(QStringLiteral("LCK..ttyS0"))).state),
                 int(State::Free));
    }

    void names_data() {
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("name");
        QTest::newRow("usb adapter") << "/dev/ttyUSB0"
                                     << "/LCK..ttyUSB0";
        QTest::newRow("pseudo-terminal") << "/dev/pts/0"
                                         << "/LCK..pts_0";
        QTest::newRow("outside /dev") << "/tmp/line"
                                      << "/LCK.._tmp_line";
    }

    void names() {
        QFETCH(QString, device);
        QFETCH(QString, name);
        const QString file = uucp_lock::lockFilePath(device);
        QVERIFY2(file.endsWith(name), qPrintable(file));
    }

    // The file read is the one Qt's serial port writes.
    void qtLocksTheFileRead() {
        const sim::PseudoTerminal terminal;
        if (!terminal.isOpen()) {
            QSKIP(qPrintable(u"no pseudo-terminal: " + terminal.errorString()));
        }
        const QString file = uucp_lock::lockFilePath(terminal.slavePath());
        // A program killed on this line's number before may have left its lock; Qt takes over a
        // lock whose process is gone, but not one that names no process or a live one.
        const State before = uucp_lock::readLock(file).state;
        if (before != State::Free && before != State::Stale) {
            QSKIP(qPrintable(u"another program's lock stands at " + file));
        }
        QSerialPort port(terminal.slavePath());
        QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
        const uucp_lock::Lock lock = uucp_lock::readLock(file);
        port.close();
        QCOMPARE(int(lock.state), int(State::Held));
        QCOMPARE(lock.pid, ::getpid());
        QVERIFY(!QFile::exists(file));
    }
};

QTEST_GUILESS_MAIN(TestUucpLock)
#include "tst_uucp_lock.moc"

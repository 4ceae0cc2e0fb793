// SPDX-License-Identifier: GPL-3.0-or-later
// A second program for the device tests, run by tst_linux_comm_device as a child process: a port
// is "held by another program" only when another process holds it, and permissions and the
// line's exclusive flag hold only for a user who is not root.
//
//   comm_device_helper open PATH   opens PATH through LinuxCommDevice (as COM1) and closes it
//                                  again; prints the error number, 0 when it opened, on one line
//                                  and the description on the next
//   comm_device_helper hold PATH   opens PATH with a plain QSerialPort, as any Qt program would,
//                                  prints "held" and keeps the port until its input closes
//   comm_device_helper flock PATH  opens PATH and holds an flock on it, as some terminal
//                                  programs do instead of a lock file, prints "held" and keeps
//                                  it until its input closes
//   comm_device_helper start PATH  runs the window's start-up on COM1 = PATH with the controls
//                                  in memory; prints each message box's text, then the port
//                                  button's caption, then the device's last error, a line each

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QSerialPort>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "fakes/fake_toolkit.h"
#include "logic/frmmain.h"
#include "serial/linux_comm_device.h"

namespace {

int openOnce(const QString& path) {
    serial::LinuxCommDevice device(serial::PortNumbering({{1, path}}));
    try {
        device.PortOpen(true);
        device.PortOpen(false);
    } catch (const logic::CommError& error) {
        std::cout << error.number() << '\n' << error.description().toStdString() << std::endl;
        return 0;
    }
    std::cout << 0 << '\n' << std::endl;
    return 0;
}

int hold(const QString& path) {
    QSerialPort port(path);
    if (!port.open(QIODevice::ReadWrite)) {
        std::cout << "failed: " << port.errorString().toStdString() << std::endl;
        return 1;
    }
    std::cout << "held" << std::endl;
    while (std::getchar() != EOF) {
    }
    return 0;
}

int holdFlock(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        std::cout << "failed: " << std::strerror(errno) << std::endl;
        return 1;
    }
    std::cout << "held" << std::endl;
    while (std::getchar() != EOF) {
    }
    ::close(fd);
    return 0;
}

int startUp(const QString& path) {
    serial::LinuxCommDevice device(serial::PortNumbering({{1, path}}));
    fakes::FakeToolkit toolkit;
    logic::frmmain logic(device, toolkit);
    toolkit.comboIndex = 0;
    logic.Form_Load();
    for (const QString& message : std::as_const(toolkit.messages)) {
        std::cout << message.toStdString() << '\n';
    }
    std::cout << toolkit.captions[logic::Control::Command1].toStdString() << '\n'
              << device.lastErrorDescription().toStdString() << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments[1] == u"open") {
        return openOnce(arguments[2]);
    }
    if (arguments.size() == 3 && arguments[1] == u"hold") {
        return hold(arguments[2]);
    }
    if (arguments.size() == 3 && arguments[1] == u"flock") {
        return holdFlock(arguments[2]);
    }
    if (arguments.size() == 3 && arguments[1] == u"start") {
        return startUp(arguments[2]);
    }
    std::cerr << "usage: comm_device_helper open|hold|flock|start PATH" << std::endl;
    return 2;
}

// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/pseudo_terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace sim {

namespace {

bool setDescriptorFlag(int fd, int getCommand, int setCommand, int flag) {
    const int flags = ::fcntl(fd, getCommand);
    return flags >= 0 && ::fcntl(fd, setCommand, flags | flag) == 0;
}

}  // namespace

PseudoTerminal::PseudoTerminal() {
    termios raw{};
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B9600);
    std::array<char, 128> name{};
    if (::openpty(&m_master, &m_slave, name.data(), &raw, nullptr) != 0) {
        m_errorString = qt_error_string(errno);
        m_master = -1;
        m_slave = -1;
        return;
    }
    m_slavePath = QString::fromLocal8Bit(name.data());
    const bool configured = setDescriptorFlag(m_master, F_GETFD, F_SETFD, FD_CLOEXEC) &&
                            setDescriptorFlag(m_slave, F_GETFD, F_SETFD, FD_CLOEXEC) &&
                            setDescriptorFlag(m_master, F_GETFL, F_SETFL, O_NONBLOCK);
    if (!configured) {
        m_errorString = qt_error_string(errno);
        hangUp();
    }
}

PseudoTerminal::~PseudoTerminal() {
    hangUp();
}

void PseudoTerminal::hangUp() {
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
    if (m_slave >= 0) {
        ::close(m_slave);
        m_slave = -1;
    }
}

}  // namespace sim

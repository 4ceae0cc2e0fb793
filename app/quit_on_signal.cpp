// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/quit_on_signal.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <array>
#include <csignal>
#include <cstdio>

namespace app {

namespace {

// The pipe's ends: the handler writes, the event loop reads.
std::array<int, 2> g_pipe{-1, -1};
volatile std::sig_atomic_t g_stopRequested = 0;
volatile std::sig_atomic_t g_stopSignal = 0;
constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};

void onSignal(int number) {
    g_stopRequested = 1;
    if (g_stopSignal == 0) {
        g_stopSignal = number;
    }
    const char byte = 1;
    // Nothing to do if it fails: a byte is already waiting.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}

}  // namespace

void catchStopSignals() {
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        ::sigaction(signal, &action, nullptr);
    }
}

bool stopRequested() {
    return g_stopRequested != 0;
}

int stopSignal() {
    return g_stopSignal;
}

QuitOnSignal::QuitOnSignal(std::function<void()> release) : m_release(std::move(release)) {
    if (g_pipe[0] < 0) {
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        m_release();
        std::fflush(nullptr);
        // Not exit(): the window, the device and Qt itself are still alive on main's stack, and
        // this may run inside a message box's loop; the port is all that must be released.
        ::_exit(0);
    });
}

StopSignalNotifier::StopSignalNotifier(std::function<void()> stop) : m_stop(std::move(stop)) {
    if (g_pipe[0] < 0) {
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        // The pipe is read empty, or the notifier would fire again at every turn of the loop.
        char bytes[16];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
        }
        m_stop();
    });
}

}  // namespace app

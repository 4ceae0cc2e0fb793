// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/quit_on_signal.h"

#include <fcntl.h>
#include <time.h>
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

// A stop signal must end the program even while it waits in a system call: a write to standard
// error on a terminal stopped with Ctrl+S, or into a pipe nobody empties, can wait for ever, and
// Qt writes its own warnings there. So the handlers are installed without SA_RESTART, and the
// call the signal interrupts returns EINTR instead of waiting on. One signal interrupts one call,
// and the next write to the same stalled stream would wait again; so from the first stop signal
// on, a timer interrupts the main thread every 100 ms until it reaches an event loop, which ends
// the process. What must not lose a call to EINTR retries it (Qt's own calls, the record's
// writes, the lock file's read); a message to a stalled standard error is lost, as it would be.
// Only a program that ends at once on the signal (QuitOnSignal) wants this; one that finishes
// its work first (StopSignalNotifier) is left alone.
timer_t g_interrupter{};
bool g_haveInterrupter = false;
volatile std::sig_atomic_t g_interruptWaits = 0;
constexpr long kInterruptEveryNs = 100'000'000;

void onInterrupt(int /*signal*/) {}

void interruptWaits() {
    if (g_interruptWaits != 0) {
        interruptWaits();
    }
}

void onSignal(int number) {
    g_stopRequested = 1;
    if (g_stopSignal == 0) {
        g_stopSignal = number;
    }
    const char byte = 1;
    // Nothing to do if it fails: a byte is already waiting.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    if (g_haveInterrupter) {
        const itimerspec every{{0, kInterruptEveryNs}, {0, kInterruptEveryNs}};
        ::timer_settime(g_interrupter, 0, &every, nullptr);
    }
}

}  // namespace

void catchStopSignals() {
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    // No SA_RESTART, for either: see g_interrupter.
    struct sigaction interrupt {};
    interrupt.sa_handler = onInterrupt;
    sigemptyset(&interrupt.sa_mask);
    ::sigaction(SIGALRM, &interrupt, nullptr);
    // Aimed at this thread, the main one, which runs the event loop and makes the writes.
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGALRM;
    event._sigev_un._tid =
        ::gettid();  // sigev_notify_thread_id, which this C library does not name
    g_haveInterrupter = ::timer_create(CLOCK_MONOTONIC, &event, &g_interrupter) == 0;

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
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
    g_interruptWaits = 1;
    if (g_stopRequested != 0) {
        interruptWaits();
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

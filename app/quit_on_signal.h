// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Ends the program on SIGINT, SIGTERM and SIGHUP, at any moment, with status 0, the port closed
// and its lock file removed. The signal handler only notes the signal and writes a byte to a
// pipe. Whatever event loop runs next reads it, the application's or the nested one of a message
// box: quitting the application's loop from inside a box would only close the box and leave the
// program running, so the watcher releases the port and ends the process itself.

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace app {

// Catches the three signals from now on and remembers them; called first thing in main, so that
// a signal before the window exists is not lost. The pipe stays open for the process's life: a
// handler must never write to a descriptor that may since have been reused.
void catchStopSignals();

// Whether a stop signal has come since catchStopSignals().
bool stopRequested();

// The number of the first stop signal that came (SIGINT, SIGTERM or SIGHUP); 0 while none has.
int stopSignal();

class QuitOnSignal : public QObject {
public:
    // Once a stop signal has come, the first event loop that runs calls `release` and ends the
    // process with status 0.
    explicit QuitOnSignal(std::function<void()> release);
    QuitOnSignal(const QuitOnSignal&) = delete;
    QuitOnSignal& operator=(const QuitOnSignal&) = delete;

private:
    std::function<void()> m_release;
    QSocketNotifier* m_notifier = nullptr;
};

// For a program that finishes what it is doing before it ends: calls `stop` from the event loop
// each time a stop signal has come, and leaves the ending to the program.
class StopSignalNotifier : public QObject {
public:
    explicit StopSignalNotifier(std::function<void()> stop);
    StopSignalNotifier(const StopSignalNotifier&) = delete;
    StopSignalNotifier& operator=(const StopSignalNotifier&) = delete;

private:
    std::function<void()> m_stop;
    QSocketNotifier* m_notifier = nullptr;
};

}  // namespace app

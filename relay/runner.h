// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One run of a script on the serial device: open the port, do the actions in order (as many
// times as --repeat says), wait for each expected reply, and end early on the first frame that
// fails or on a stop signal, after the --at-exit actions; then close the port, which releases
// its lock. Every frame is one line on standard output and one event in the traffic record.
//
// A stop is taken between frames: a frame that is out waits for its reply, a pause ends at
// once, and a pulse that is on is switched off before the run stops.

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "logic/traffic_record.h"
#include "relay/script.h"
#include "serial/linux_comm_device.h"

namespace relay {

// The COM number to open for a --port value, and the numbering that leads there. The number of
// a path matters only where it is shown, in the record: when `numbered`, a path the machine
// numbers keeps its number and any other (a pseudo-terminal) is bound to the first number past
// the machine's ports; otherwise the path is bound to 1 without listing the machine's ports,
// which walks udev's view of every tty (some 15 ms).
struct PortChoice {
    std::int16_t number = 1;
    serial::PortNumbering numbering;
};
PortChoice choosePort(const QString& port, bool numbered);

class Runner : public QObject {
public:
    // `device` is closed and opens the port as `choice` says; `portName` is what the lines call
    // the port. `out` takes the frames' lines, `err` the messages, the summary and, when
    // `progress`, the progress line.
    Runner(const Script& script, serial::LinuxCommDevice& device, std::int16_t port,
           QString portName, logic::TrafficRecord& record);
    void setOutput(std::FILE* out, std::FILE* err, bool progress);

    // Runs the script and returns the exit status.
    int run();

    // Ends the run after the current frame with `status`; the first call counts. Called from the
    // event loop, which the run turns while it waits.
    void stop(int status);

private:
    bool open();
    // False when a frame of the action failed.
    bool perform(const Action& action, bool stoppable);
    bool sendFrame(const QString& written, const QString& text,
                   const std::vector<std::uint8_t>& bytes);
    // Waits `duration`, less when `stoppable` and a stop comes.
    void pause(Duration duration, bool stoppable);
    // Runs the event loop until `done`, the deadline (in ms of m_clock), a lost port or, when
    // `stoppable`, a stop.
    void waitUntil(qint64 deadline, const std::function<bool()>& done, bool stoppable);
    void onComm();
    void printLine(qint64 at, const QString& written, const std::vector<std::uint8_t>& bytes,
                   const QString& result);
    void say(const QString& message);
    void showProgress();
    void clearProgress();
    QString frameName(const QString& written, const std::vector<std::uint8_t>& bytes) const;

    const Script& m_script;
    serial::LinuxCommDevice& m_device;
    std::int16_t m_port;
    QString m_portName;
    logic::TrafficRecord& m_record;
    std::FILE* m_out = stdout;
    std::FILE* m_err = stderr;
    bool m_progress = false;
    bool m_outOnTerminal = false;

    QElapsedTimer m_clock;
    qint64 m_lastProgress = -1;
    bool m_progressShown = false;
    std::int64_t m_cycles = 0;
    std::int64_t m_frames = 0;
    std::int64_t m_failures = 0;
    int m_stopStatus = 0;
    bool m_lost = false;
    bool m_outputFailed = false;
    // With --expect echo: the bytes received and not yet matched to a frame.
    QByteArray m_reply;
    // Wakes the event loop when a wait is over; its timeout needs no handler.
    QTimer m_deadline;
};

}  // namespace relay

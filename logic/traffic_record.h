// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The traffic record: where the window's logic reports what happened on the line, as it happens,
// so that a record can be kept beyond the window (the program's --log). The logic calls it at
// the point of each event, before the handler returns; without a record the null one takes the
// events and does nothing, and the window behaves the same either way.
//
// A record that can no longer keep events stops taking them and says why once, through
// takeFailure(); the window's logic asks after every handler and shows the answer in one message
// box. That message is not itself recorded.

#include <QString>
#include <cstdint>
#include <span>

namespace logic {

class TrafficRecord {
public:
    TrafficRecord() = default;
    TrafficRecord(const TrafficRecord&) = delete;
    TrafficRecord& operator=(const TrafficRecord&) = delete;
    virtual ~TrafficRecord() = default;

    // The port COM`port` was opened with the line settings `settings`.
    virtual void portOpened(std::int16_t port, const QString& settings) = 0;
    // The program closed COM`port`.
    virtual void portClosed(std::int16_t port) = 0;
    // The open port COM`port` went away; `reason` is what the operator is told.
    virtual void portLost(std::int16_t port, const QString& reason) = 0;
    // A command button sent `text`, as the operator left it; `written` are the bytes handed to
    // the device, which may be fewer than the text seems to hold, or none.
    virtual void frameWritten(const QString& text, std::span<const std::uint8_t> written) = 0;
    // One receive event's bytes.
    virtual void bytesReceived(std::span<const std::uint8_t> bytes) = 0;
    // A message box the operator is shown about an error.
    virtual void errorShown(const QString& message) = 0;

    // Why the record stopped, the first time it is asked after stopping; empty otherwise.
    virtual QString takeFailure() = 0;
};

// The record that keeps nothing, for a window without --log.
TrafficRecord& noTrafficRecord();

}  // namespace logic

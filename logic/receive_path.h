// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shows every byte the board sends, as two upper-case hexadecimal digits, in the work area
// (behind the reply header of the last send) and in the received-bytes box. It runs on the
// device's OnComm and interprets nothing.
//
// The rule for each byte: the box's text loses its spaces at both ends, then gets one space and
// the byte's two digits. So an empty box shows " 0A" after one byte and "0A FF" after two, and a
// box ending in CR LF keeps them. Applying that rule by rewriting the whole text for every byte
// would cost time in proportion to the log for each byte; instead the handler works out what
// the rule leaves at the two ends and edits each box once per event, so the cost of an event
// does not depend on how much the boxes already hold.

#include <QString>
#include <cstdint>

#include "logic/comm_device.h"
#include "logic/toolkit.h"
#include "logic/traffic_record.h"

namespace logic {

class ReceivePath {
public:
    ReceivePath(CommDevice& MSComm1, Toolkit& toolkit, TrafficRecord& record = noTrafficRecord())
        : m_device(MSComm1), m_toolkit(toolkit), m_record(record) {}

    // Handles one OnComm and returns the CommEvent it read. Only kComEvReceive is acted on.
    // Every byte Input returns is shown, also those beyond the count read just before it, and
    // then recorded.
    std::int16_t MSComm1_OnComm();

private:
    // Appends `entries` (" XX" per byte) to `box` as if each byte had been added by the rule.
    void appendEntries(Control box, QStringView entries);

    CommDevice& m_device;
    Toolkit& m_toolkit;
    TrafficRecord& m_record;
};

}  // namespace logic

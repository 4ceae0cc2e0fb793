// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Descriptors 0, 1 and 2 made valid before the program opens anything. A program started with
// one of them closed (`zeva-relay-test >&-`) would hand its number to the next file it opened:
// the stop-signal pipe would take the record's lines and the messages for standard error, and
// read them as stop signals.

namespace app {

struct StandardStreams {
    bool outputClosed = false;  // the program was started with standard output closed
};

// Opens /dev/null on each of the three that is closed, and says which were.
StandardStreams openClosedStandardStreams();

}  // namespace app

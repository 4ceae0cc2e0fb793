// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A pseudo-terminal pair standing in for a serial cable. The slave side is a path under /dev/pts
// that the program opens exactly as it opens /dev/ttyS0; the master side is where a simulated
// board sits (relay_board_sim.h). Tests, the program's --simulate option and the tools use it
// instead of a real cable.
//
// - The slave starts in raw mode, so nothing written to it is echoed back or altered before the
//   program opens the port and sets the line up itself.
// - The wrapper keeps a descriptor of its own open on the slave for as long as the pair lives. A
//   master whose slave has no open descriptor reads as hung up, over and over; holding one keeps
//   the master quiet while the program has the port closed, and lets tests read the line settings
//   the program applied.
// - Both descriptors are close-on-exec, so a child process never keeps the pair alive, and the
//   master is non-blocking for the board's event loop.
// - hangUp() closes the master: to whoever has the slave open it is a cable pulled. The kernel
//   hangs the line up, unread bytes are gone, and the slave's path disappears.

#include <QString>

namespace sim {

class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // False when the pair could not be created (errorString() says why) or after hangUp().
    bool isOpen() const { return m_master >= 0; }
    QString errorString() const { return m_errorString; }

    int masterDescriptor() const { return m_master; }
    int slaveDescriptor() const { return m_slave; }
    // The slave's path, such as "/dev/pts/3"; kept after hangUp() although the path is gone.
    QString slavePath() const { return m_slavePath; }

    void hangUp();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    QString m_errorString;
};

}  // namespace sim

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A relay board at the far end of a serial line, for tests, the --simulate option and the
// relay-board-sim tool. It serves RelayBoard (relay_board.h: the frames, the relays and the echo
// convention) from the event loop of the thread it lives in, on either
// - the master side of a pseudo-terminal (pseudo_terminal.h): read when the master is readable,
//   written without ever blocking, output queued and handed over as fast as the master takes it;
// - any open QIODevice, such as a QSerialPort on a real line through a null-modem cable, so that
//   the program on one port can be tested against the simulated board on another.
//
// Besides answering frames it can be told to send any bytes (send), to stay silent (setSilent)
// and to hang up (hangUp: the master closed, or the device closed), and it reports what happens
// through signals, for a board panel and for tests.

#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QSocketNotifier>

#include "sim/relay_board.h"

namespace sim {

class PseudoTerminal;

class RelayBoardSim : public QObject {
    Q_OBJECT

public:
    // Serves on the master of `terminal`, which must outlive the board.
    explicit RelayBoardSim(PseudoTerminal& terminal, QObject* parent = nullptr);
    // Serves on `device`, which must be open for reading and writing and outlive the board.
    explicit RelayBoardSim(QIODevice& device, QObject* parent = nullptr);
    ~RelayBoardSim() override;

    const RelayBoard& board() const { return m_board; }
    void setSilent(bool silent) { m_board.setSilent(silent); }

    // Queues `bytes` behind whatever is still waiting to go out.
    void send(const QByteArray& bytes);
    // Bytes queued and not yet handed to the line.
    qint64 pendingOutput() const;
    // Bytes read from the line so far.
    qint64 receivedBytes() const { return m_receivedBytes; }

    // Ends the line: the pseudo-terminal's master is closed or the device is closed. Queued
    // output is dropped; the board no longer reads or writes.
    void hangUp();
    bool isServing() const { return m_serving; }

Q_SIGNALS:
    void frameAccepted(const QByteArray& frame);
    void frameRejected();
    void relaysChanged(bool channel1On, bool channel2On);
    // Everything queued has been handed to the line.
    void outputDrained();
    // The line failed or was hung up at the other end; the board has stopped serving.
    void lineClosed();
    // hangUp() ended the line.
    void hungUp();

private:
    void readFromMaster();
    void writeToMaster();
    void readFromDevice();
    void takeBytes(const QByteArray& bytes);
    void stopServing();

    RelayBoard m_board;
    PseudoTerminal* m_terminal = nullptr;
    QIODevice* m_device = nullptr;
    // Children of the board; released with deleteLater, as they may be the ones calling.
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    // Output for the master: m_output from m_outputStart on is still to be written.
    QByteArray m_output;
    qsizetype m_outputStart = 0;
    qint64 m_receivedBytes = 0;
    bool m_serving = true;
};

}  // namespace sim

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The serial device the window talks to, `MSComm1`: a port chosen by number (1 = COM1), line
// settings as text, buffers, and one event, OnComm, raised on the GUI thread when bytes arrive.
// The port logic drives it only through the operations below; each one is synchronous, and a
// failing one throws CommError (comm_error.h).
//
// Rules every implementation keeps, the test double included:
// - Property writes while the port is closed are remembered, not errors, and apply at the next
//   open. A write while open applies at once.
// - Before anything is written the properties hold the values the port logic's open sets:
//   1024-byte buffers, binary input (InputMode 1), InputLen 0, both thresholds 1, Settings
//   "9600,N,8,1"; CommPort is 1.
// - Output and Input on a closed port throw kPortNotOpen ("port not open"). InBufferCount and
//   OutBufferCount on a closed port read 0 and ignore writes.
// - PortOpen(true) throws kPortNotFound (8002) when the chosen port does not exist and
//   kPortAlreadyOpen (8005) when it is already open, by this program or by another one.
//   PortOpen(false) on a closed port does nothing.
// - OnComm is never raised from inside an operation: it arrives through the event loop, and
//   CommEvent() then tells its kind. kComEvReceive (2) means bytes are waiting; every other kind
//   is ignored by the receive path. kComEvPortLost means the port went away while open (an
//   adapter pulled, a hang-up): the device has closed it, PortOpen() reads false from then on,
//   and CommEventDescription() says what happened.
// - While events are held (holdEvents ... releaseEvents, nestable), OnComm is not raised: the
//   window holds them while one of its handlers runs, because a modal message box inside a
//   handler runs a nested event loop and the next handler must not start before this one ends.
//   What happened meanwhile is raised once the last hold ends, in order, and nothing of it is
//   lost: bytes that arrived before a port was lost stay readable until their event has run.
// - takeReceiveEvent() hands a receive event to the caller instead of the event loop: the window
//   asks it before each of the operator's actions, so that what the board sent before a click is
//   shown, and recorded, before the click's own lines, as if OnComm had been raised at once, even
//   where the device batches a slow stream. It never blocks and never throws.

#include <QString>
#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "logic/comm_error.h"

namespace logic {

inline constexpr std::int16_t kComEvReceive = 2;
inline constexpr std::int16_t kComEvPortLost = 1100;
inline constexpr std::int32_t kInputModeText = 0;
inline constexpr std::int32_t kInputModeBinary = 1;

class CommDevice {
public:
    CommDevice() = default;
    CommDevice(const CommDevice&) = delete;
    CommDevice& operator=(const CommDevice&) = delete;
    virtual ~CommDevice() = default;

    // The port number the next open acts on.
    virtual void CommPort(std::int16_t port) = 0;
    virtual std::int16_t CommPort() = 0;

    // "baud,parity,data,stop", for example "9600,N,8,1".
    virtual void Settings(const QString& settings) = 0;

    virtual void PortOpen(bool open) = 0;
    virtual bool PortOpen() = 0;

    virtual void OutBufferSize(std::int16_t size) = 0;
    virtual void InBufferSize(std::int16_t size) = 0;
    virtual void InputMode(std::int32_t mode) = 0;
    virtual void InputLen(std::int16_t length) = 0;

    // Writing 0 drops received bytes not yet read; reading gives the number waiting.
    virtual void InBufferCount(std::int16_t count) = 0;
    virtual std::int16_t InBufferCount() = 0;
    // Writing 0 drops bytes not yet sent.
    virtual void OutBufferCount(std::int16_t count) = 0;

    virtual void SThreshold(std::int16_t threshold) = 0;
    // With 1, OnComm is raised with kComEvReceive as soon as one received byte waits.
    virtual void RThreshold(std::int16_t threshold) = 0;

    // Sends the bytes in order, in one write.
    virtual void Output(std::span<const std::uint8_t> bytes) = 0;
    // Every waiting byte (at least as many as InBufferCount gave just before), removed from the
    // receive buffer.
    virtual std::vector<std::uint8_t> Input() = 0;

    // Takes every byte that has reached the device by now, without waiting for more, and says
    // whether that makes a receive event due (as RThreshold rules). When it does, the event is
    // the caller's to handle now: CommEvent() reads kComEvReceive. An OnComm for those bytes that
    // was already on its way may still come and find fewer bytes or none.
    virtual bool takeReceiveEvent() = 0;

    virtual std::int16_t CommEvent() = 0;
    // What the last event that was not kComEvReceive was about, for the operator.
    virtual QString CommEventDescription() = 0;

    // The handler of OnComm; the window installs it once.
    void setOnComm(std::function<void()> handler) { m_onComm = std::move(handler); }

    void holdEvents() { ++m_holds; }
    void releaseEvents() {
        if (m_holds > 0 && --m_holds == 0) {
            eventsReleased();
        }
    }
    bool eventsHeld() const { return m_holds > 0; }

protected:
    void raiseOnComm() {
        if (m_onComm) {
            m_onComm();
        }
    }
    // The last hold has ended: raise, in order, the events that were kept back.
    virtual void eventsReleased() = 0;

private:
    std::function<void()> m_onComm;
    int m_holds = 0;
};

}  // namespace logic

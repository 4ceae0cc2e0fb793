// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window's logic, as a plain class: the state that lives between events and the handlers of
// the window's events, under their names. It reaches the serial device and the controls only
// through the two interfaces handed to it, so it runs the same against the Qt window and the
// real device as against the doubles in tests.
//
// Pipeline: the Qt window forwards each event to its handler here. Start-up, the port list and
// the port button go to port management; the command buttons hand a command text to send_cmd,
// which converts it, writes the frame and logs it in the work area; the device's OnComm goes to
// the receive path, which shows the reply bytes, or, for a lost port, to port management. With
// --reconnect a device watch's changes go to port management too, which reopens a lost board.
//
// Every handler runs to its end before the next one starts: the device's events are held while
// a handler runs (a modal message box runs a nested event loop). An operator's action (the port
// list, the port button, a command button, clearing the work area) first handles, inside the
// same hold, the receive event of the bytes that reached the device before it, as if OnComm had
// been raised at once: a device that batches a slow stream must not let a send's clearing of the
// input, or a close, drop what the board said before the click. No device error escapes a
// handler; where the operator must hear of a failure, one message box shows the device's
// description. Every event on the line, and every error shown, also goes to the traffic record;
// a record that fails is reported once, in a message box at the end of the handler.

#include <QString>
#include <cstdint>

#include "logic/comm_device.h"
#include "logic/device_watch.h"
#include "logic/port_manager.h"
#include "logic/receive_path.h"
#include "logic/toolkit.h"
#include "logic/traffic_record.h"
#include "logic/transmit_path.h"

namespace logic {

class frmmain {
public:
    // Installs itself as the device's OnComm handler for its lifetime.
    frmmain(CommDevice& MSComm1, Toolkit& toolkit, TrafficRecord& record = noTrafficRecord());
    frmmain(const frmmain&) = delete;
    frmmain& operator=(const frmmain&) = delete;
    ~frmmain();

    void Form_Load();
    void Combo1_Click();
    void Command1_Click();
    void MSComm1_OnComm();

    // The channel buttons; Index is the element of the button's group, always 0.
    void on1_Click(std::int16_t Index);
    void off1_Click(std::int16_t Index);
    void reverse1_Click(std::int16_t Index);
    void on2_Click(std::int16_t Index);
    void off2_Click(std::int16_t Index);
    void reverse2_Click(std::int16_t Index);
    // All channels on, all channels off, and clearing the work area.
    void Command10_Click();
    void Command11_Click();
    void Command4_Click();

    // Sends a command text; a device error ends the send and is shown in a message box.
    void send_cmd(const QString& str);

    // The program is ending (the window was closed, or a stop signal came, perhaps while a
    // handler's message box is open): the bytes that came before are shown and recorded, the
    // close is recorded, and the port is closed. Shows no message box and throws nothing.
    void closeAtExit();

    // Follows the board across re-plugs through `watch` (--reconnect); call before Form_Load.
    // The watch must outlive the window's logic.
    void followDevices(DeviceWatch& watch);
    // The watch saw a change that may bring the awaited device back. Kept until the handler
    // that runs ends, like the device's events.
    void deviceChanged();

    const PortManager& portManager() const { return m_ports; }
    const TransmitPath& transmitPath() const { return m_transmit; }

private:
    // Runs one handler's body with the device's events held and its errors reported.
    template <typename Body>
    void handle(Body body);
    // handle() for an operator's action: the bytes that came before it are handled first.
    template <typename Body>
    void act(Body body);
    // Runs the receive path when the device has bytes waiting that no OnComm has shown yet.
    void receiveWaitingBytes();
    void sendBoxText(Control box);

    CommDevice& m_device;
    Toolkit& m_toolkit;
    TrafficRecord& m_record;
    PortManager m_ports;
    TransmitPath m_transmit;
    ReceivePath m_receive;
    DeviceWatch* m_watch = nullptr;
    bool m_deviceChangeHeld = false;
};

}  // namespace logic

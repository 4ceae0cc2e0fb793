#pragma once

// The window's logic, as a plain class: the state that lives between events and the handlers
// of the window's events, under their names. It reaches the serial device and the controls only
// through the two interfaces handed to it, so it runs the same against the Qt window and the
// real device as against the doubles in tests.
//
// Every handler runs to its end and lets no device error escape: where the operator must hear
// about a failure, they see one message box with the device's description.

#include <QString>

#include "serial/comm_device.h"
#include "serial/transmit_path.h"
#include "ui/toolkit.h"

namespace ui {

class frmmain {
public:
    frmmain(serial::CommDevice& MSComm1, Toolkit& toolkit);

    // Sends a command text; a device error ends the send and is shown in a message box.
    void send_cmd(const QString& str);

    const serial::TransmitPath& transmitPath() const { return m_transmit; }

private:
    Toolkit& m_toolkit;
    serial::TransmitPath m_transmit;
};

}  // namespace ui

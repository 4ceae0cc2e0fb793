// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/frmmain.h"

#include <utility>

#include "codec/relay_frames.h"
#include "logic/qt_text.h"

namespace logic {

frmmain::frmmain(CommDevice& MSComm1, Toolkit& toolkit, TrafficRecord& record)
    : m_device(MSComm1),
      m_toolkit(toolkit),
      m_record(record),
      m_ports(MSComm1, toolkit, record),
      m_transmit(MSComm1, toolkit, record),
      m_receive(MSComm1, toolkit, record) {
    m_device.setOnComm([this] { MSComm1_OnComm(); });
}

frmmain::~frmmain() {
    m_device.setOnComm({});
    if (m_watch != nullptr) {
        m_watch->setOnChange({});
    }
}

template <typename Body>
void frmmain::handle(Body body) {
    m_device.holdEvents();
    try {
        body();
    } catch (const CommError& error) {
        m_record.errorShown(error.description());
        m_toolkit.messageBox(error.description());
    }
    const QString recordFailure = m_record.takeFailure();
    if (!recordFailure.isEmpty()) {
        m_toolkit.messageBox(recordFailure);
    }
    m_device.releaseEvents();
    if (!m_device.eventsHeld() && std::exchange(m_deviceChangeHeld, false)) {
        deviceChanged();
    }
}

template <typename Body>
void frmmain::act(Body body) {
    // An action can only start inside another handler through a nested event loop; the bytes
    // are then that handler's to show, after it.
    const bool outermost = !m_device.eventsHeld();
    handle([&] {
        if (outermost) {
            receiveWaitingBytes();
        }
        body();
    });
}

void frmmain::receiveWaitingBytes() {
    if (m_device.takeReceiveEvent()) {
        m_receive.MSComm1_OnComm();
    }
}

void frmmain::Form_Load() {
    handle([this] { m_ports.openFirstPort(); });
}

void frmmain::Combo1_Click() {
    act([this] { m_ports.changePort(); });
}

void frmmain::Command1_Click() {
    act([this] { m_ports.openOrClose(); });
}

void frmmain::MSComm1_OnComm() {
    handle([this] {
        if (m_receive.MSComm1_OnComm() == kComEvPortLost) {
            m_ports.portLost();
        }
    });
}

void frmmain::followDevices(DeviceWatch& watch) {
    m_watch = &watch;
    m_ports.setDeviceWatch(watch);
    watch.setOnChange([this] { deviceChanged(); });
}

void frmmain::deviceChanged() {
    if (m_device.eventsHeld()) {
        m_deviceChangeHeld = true;
        return;
    }
    handle([this] { m_ports.deviceChanged(); });
}

void frmmain::send_cmd(const QString& str) {
    act([&] { m_transmit.send_cmd(str); });
}

void frmmain::sendBoxText(Control box) {
    send_cmd(m_toolkit.text(box));
}

void frmmain::on1_Click(std::int16_t /*Index*/) {
    sendBoxText(Control::on1text);
}

void frmmain::off1_Click(std::int16_t /*Index*/) {
    sendBoxText(Toolkit::element(ControlArray::off1text, 0));
}

void frmmain::reverse1_Click(std::int16_t /*Index*/) {
    sendBoxText(Control::reverse1text);
}

void frmmain::on2_Click(std::int16_t /*Index*/) {
    sendBoxText(Control::on2text);
}

void frmmain::off2_Click(std::int16_t /*Index*/) {
    sendBoxText(Toolkit::element(ControlArray::off2text, 0));
}

void frmmain::reverse2_Click(std::int16_t /*Index*/) {
    sendBoxText(Control::reverse2text);
}

void frmmain::Command10_Click() {
    send_cmd(toQString(codec::commandText(codec::Frame::AllOn)));
}

void frmmain::Command11_Click() {
    send_cmd(toQString(codec::commandText(codec::Frame::AllOff)));
}

void frmmain::Command4_Click() {
    act([this] { m_toolkit.setText(Control::Text1, QString()); });
}

void frmmain::closeAtExit() {
    m_device.holdEvents();
    try {
        receiveWaitingBytes();
    } catch (const CommError&) {
        // Nobody is left to tell; the close below matters more.
    }
    try {
        m_ports.closeAtExit();
    } catch (const CommError&) {
        // The same: the process ends, and the system closes the device with it.
    }
    m_device.releaseEvents();
}

}  // namespace logic

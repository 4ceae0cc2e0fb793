// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/port_manager.h"

namespace logic {

void PortManager::showOpenState() {
    m_toolkit.setCaption(Control::Command1, kOpenCaption);
    m_toolkit.setFillColor(Control::Shape1, kLampOpen);
}

void PortManager::showClosedState() {
    m_toolkit.setCaption(Control::Command1, kClosedCaption);
    m_toolkit.setFillColor(Control::Shape1, kLampClosed);
}

void PortManager::showError(const QString& message) {
    m_record.errorShown(message);
    m_toolkit.messageBox(message);
}

std::int16_t PortManager::pickedPort() {
    return static_cast<std::int16_t>(m_toolkit.selectedIndex(Control::Combo1) + 1);
}

bool PortManager::ProbePort(std::int16_t port) {
    if (port == m_selectedPort && m_toolkit.caption(Control::Command1) != kClosedCaption) {
        return false;
    }
    try {
        m_device.CommPort(port);
        m_device.PortOpen(true);
        m_device.PortOpen(false);
        return true;
    } catch (const CommError& error) {
        switch (error.number()) {
            case comm_error::kPortNotFound:
                showError(kPortMissingMessage);
                break;
            case comm_error::kPortAlreadyOpen:
                showError(kPortBusyMessage);
                break;
            default:
                showError(kOtherErrorMessage);
                break;
        }
        return false;
    }
}

void PortManager::OpenPort(std::int16_t port) {
    m_device.CommPort(port);
    m_device.OutBufferSize(1024);
    m_device.InBufferSize(1024);
    m_device.InputMode(kInputModeBinary);
    m_device.InputLen(0);
    m_device.InBufferCount(0);
    m_device.SThreshold(1);
    m_device.RThreshold(1);
    // CommSettings is still empty when start-up found no port; the line settings are fixed.
    const QString& settings = m_commSettings.isEmpty() ? kLineSettings : m_commSettings;
    m_device.Settings(settings);
    m_device.PortOpen(true);
    m_record.portOpened(port, settings);
}

void PortManager::openOrReport(std::int16_t port) {
    try {
        OpenPort(port);
        m_openedPort = port;
    } catch (const CommError& error) {
        showError(error.description());
        showClosedState();
        m_openedPort = 0;
    }
}

void PortManager::openFirstPort() {
    m_toolkit.setComboText(Control::Combo1, QStringLiteral("COM1"));
    m_selectedPort = 0;
    if (ProbePort(1)) {
        showOpenState();
        m_commSettings = kLineSettings;
        openOrReport(1);
    } else {
        showClosedState();
        m_openedPort = 0;
    }
    m_selectedPort = 1;
}

void PortManager::changePort() {
    const std::int16_t port = pickedPort();
    if (port == m_selectedPort) {
        return;
    }
    if (m_openedPort != 0) {
        try {
            m_device.PortOpen(false);
            m_record.portClosed(m_openedPort);
        } catch (const CommError& error) {
            showError(error.description());
        }
    }
    if (ProbePort(port)) {
        showOpenState();
        openOrReport(port);
    } else {
        showClosedState();
        m_openedPort = 0;
    }
    m_selectedPort = port;
}

void PortManager::openOrClose() {
    try {
        m_device.Settings(kLineSettings);
        if (m_toolkit.caption(Control::Command1) == kOpenCaption) {
            m_device.PortOpen(false);
            m_record.portClosed(m_openedPort);
            showClosedState();
            m_openedPort = 0;
        } else {
            const std::int16_t port = pickedPort();
            if (ProbePort(port)) {
                m_device.PortOpen(true);
                m_record.portOpened(port, kLineSettings);
                showOpenState();
                m_openedPort = port;
            }
        }
    } catch (const CommError& error) {
        showError(error.description());
    }
}

void PortManager::closeAtExit() {
    // A port lost and not yet reported reads open until its report has run; its close is the
    // last that is known of it.
    if (m_openedPort != 0 && m_device.PortOpen()) {
        m_record.portClosed(m_openedPort);
    }
    m_device.PortOpen(false);
}

void PortManager::portLost() {
    // A loss that was overtaken by the port button's close needs no word.
    if (m_toolkit.caption(Control::Command1) != kOpenCaption) {
        return;
    }
    const QString reason = m_device.CommEventDescription();
    m_record.portLost(m_openedPort, reason);
    showClosedState();
    m_openedPort = 0;
    showError(reason);
}

}  // namespace logic

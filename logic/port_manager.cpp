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

void PortManager::probeSteps(std::int16_t port) {
    m_device.CommPort(port);
    m_device.PortOpen(true);
    m_device.PortOpen(false);
}

QString PortManager::probeMessage(const CommError& error) {
    switch (error.number()) {
        case comm_error::kPortNotFound:
            return kPortMissingMessage;
        case comm_error::kPortAlreadyOpen:
            return kPortBusyMessage;
        default:
            return kOtherErrorMessage;
    }
}

bool PortManager::ProbePort(std::int16_t port) {
    return probe(port, Waiting::Never);
}

bool PortManager::probeOrWait(std::int16_t port, bool quietly) {
    return probe(port, quietly ? Waiting::Quietly : Waiting::AfterTheMessage);
}

bool PortManager::probe(std::int16_t port, Waiting waiting) {
    if (port == m_selectedPort && m_toolkit.caption(Control::Command1) != kClosedCaption) {
        return false;
    }
    try {
        probeSteps(port);
        return true;
    } catch (const CommError& error) {
        const bool awaited = waiting != Waiting::Never && m_watch != nullptr &&
                             (error.number() == comm_error::kPortNotFound ||
                              error.number() == comm_error::kPortAlreadyOpen);
        if (awaited) {
            beginWaiting(port, waitNote(port, error));
        }
        if (!awaited || waiting != Waiting::Quietly) {
            showError(probeMessage(error));
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
    followOpened(port);
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
    if (probeOrWait(1, true)) {
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
    stopFollowing();
    if (probeOrWait(port, false)) {
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
            stopFollowing();
        } else {
            const std::int16_t port = pickedPort();
            if (ProbePort(port)) {
                m_device.PortOpen(true);
                m_lossesSinceChange = 0;
                followOpened(port);
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
    const std::int16_t lost = m_openedPort;
    m_record.portLost(lost, reason);
    showClosedState();
    m_openedPort = 0;
    if (m_watch == nullptr) {
        showError(reason);
        return;
    }
    beginWaiting(lost, reason);
    // It may be back already; a port lost twice without a change in between waits for one.
    if (++m_lossesSinceChange == 1) {
        reopen();
    }
}

void PortManager::followOpened(std::int16_t port) {
    if (m_watch != nullptr) {
        stopWaiting();
        m_watch->follow(port);
    }
}

void PortManager::beginWaiting(std::int16_t port, const QString& note) {
    m_waitingPort = port;
    m_waitNote = note;
    m_watch->watch(port);
    m_awaitedDevice = m_watch->awaitedDevice(port);
}

void PortManager::stopWaiting() {
    if (m_waitingPort != 0) {
        m_watch->stopWatching();
        m_waitingPort = 0;
        m_awaitedDevice.clear();
        m_waitNote.clear();
    }
}

void PortManager::stopFollowing() {
    if (m_watch != nullptr) {
        stopWaiting();
        m_watch->forget();
        m_lossesSinceChange = 0;
    }
}

void PortManager::deviceChanged() {
    m_lossesSinceChange = 0;
    if (m_waitingPort != 0) {
        reopen();
    }
}

void PortManager::reopen() {
    const std::int16_t port = m_waitingPort;
    try {
        OpenPort(port);
    } catch (const CommError& error) {
        // A device still missing leaves the note as it was: why it was lost.
        if (error.number() != comm_error::kPortNotFound) {
            m_waitNote = waitNote(port, error);
        }
        // Watched again from here, so that this attempt's own traces wake nothing.
        m_watch->watch(port);
        m_awaitedDevice = m_watch->awaitedDevice(port);
        return;
    }
    m_openedPort = port;
    showOpenState();
}

QString PortManager::waitNote(std::int16_t port, const CommError& error) {
    switch (error.number()) {
        case comm_error::kPortNotFound:
            return {};
        case comm_error::kPortAlreadyOpen: {
            const QString holder = m_watch->holder(port);
            return holder.isEmpty()
                       ? error.description()
                       : QStringLiteral("占用者：%1\n%2").arg(holder, error.description());
        }
        default:
            return error.description();
    }
}

QString PortManager::waitingText() const {
    if (m_waitingPort == 0) {
        return {};
    }
    QString text = QStringLiteral("正在等待 COM%1 的设备 %2 接入，接入后自动打开。")
                       .arg(m_waitingPort)
                       .arg(m_awaitedDevice);
    if (!m_waitNote.isEmpty()) {
        text += u'\n' + m_waitNote;
    }
    return text;
}

}  // namespace logic

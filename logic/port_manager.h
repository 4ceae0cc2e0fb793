// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one serial port of the program: opening COM1 at start-up, moving to the port the operator
// picks in the port list, and the port button that closes and reopens it. A port is probed
// (opened and closed again at once) before it is used, so that a missing or busy port is
// reported by name.
//
// The state shows in one place, the port button's caption together with the lamp: "关闭端口"
// and green while a port is open, "打开端口" and black while none is. The caption is also the
// record of that state: the port button and the probe compare it.
//
// Where the steps below could fail without a word and leave the open state on show, they report
// and show the closed state instead: every open uses "9600,N,8,1" even after a failed start-up
// left CommSettings empty; a failing open at start-up or at a port change shows the device's
// description and the closed state; a failing close at a port change is reported and the change
// goes on; a port lost while open (an adapter pulled) shows the closed state and why, and the
// port button opens it again once it is back.
//
// With a device watch (the program's --reconnect) the port follows its board across re-plugs:
// - a port lost while open is recorded and shows the closed state without a message box; the
//   manager waits for that device and opens it as OpenPort does as soon as it can, with the open
//   state and an `opened` record, without a word while it cannot (missing, busy, not allowed);
// - a port that is missing or busy at start-up is waited for in the same way instead of being
//   reported; one picked in the port list is reported as usual and then waited for; any other
//   failure is reported as without the watch, and not waited for;
// - every open keeps the port number on the device it opened (DeviceWatch::follow);
// - the port button's close stops following until a port is opened again; a port change follows
//   the new port. The port button's open while waiting reports as usual and keeps waiting.
// While it waits, waitingText() says for what, and what kept the last attempt from opening.

#include <QString>
#include <cstdint>

#include "logic/comm_device.h"
#include "logic/device_watch.h"
#include "logic/toolkit.h"
#include "logic/traffic_record.h"

namespace logic {

inline const QString kLineSettings = QStringLiteral("9600,N,8,1");
inline const QString kOpenCaption = QStringLiteral("关闭端口");
inline const QString kClosedCaption = QStringLiteral("打开端口");
inline const QString kPortMissingMessage = QStringLiteral("串口不存在！");
inline const QString kPortBusyMessage = QStringLiteral("串口已打开！");
inline const QString kOtherErrorMessage = QStringLiteral("其它错误");

class PortManager {
public:
    PortManager(CommDevice& MSComm1, Toolkit& toolkit, TrafficRecord& record = noTrafficRecord())
        : m_device(MSComm1), m_toolkit(toolkit), m_record(record) {}

    // Start-up: tries COM1.
    void openFirstPort();
    // The operator picked an entry of the port list.
    void changePort();
    // The port button: closes an open port, or probes and opens the selected one.
    void openOrClose();
    // Opens and closes `port` at once; false, after a message, when that fails. False without a
    // word when `port` is the selected one and is not shown closed.
    bool ProbePort(std::int16_t port);
    // Configures the device and opens `port`; a failure propagates (CommError).
    void OpenPort(std::int16_t port);
    // The device reported that the open port went away.
    void portLost();
    // The program is ending: records the close of the open port and closes it; a failure
    // propagates (CommError).
    void closeAtExit();

    // Follows the board across re-plugs through `watch`, which must outlive the manager.
    void setDeviceWatch(DeviceWatch& watch) { m_watch = &watch; }
    // The watch saw a change: while waiting, tries the awaited port once more.
    void deviceChanged();
    // While waiting for a device, what the lamp's tooltip says; empty otherwise.
    QString waitingText() const;
    std::int16_t waitingPort() const { return m_waitingPort; }

    const QString& CommSettings() const { return m_commSettings; }
    std::int16_t SelectedPort() const { return m_selectedPort; }
    std::int16_t OpenedPort() const { return m_openedPort; }

private:
    void showOpenState();
    void showClosedState();
    std::int16_t pickedPort();
    // OpenPort for start-up and port changes: on failure, one message with the device's
    // description and the closed state. The port stays closed, as opening is OpenPort's last
    // step.
    void openOrReport(std::int16_t port);
    // A message box about an error, recorded first.
    void showError(const QString& message);
    // ProbePort's device steps; a failure propagates.
    void probeSteps(std::int16_t port);
    // The message ProbePort shows for a failed probe.
    static QString probeMessage(const CommError& error);
    // ProbePort for start-up and port changes: with a watch, a missing or busy port is also
    // waited for, and `quietly` without its message.
    bool probeOrWait(std::int16_t port, bool quietly);
    // Whether a failed probe of a missing or busy port starts waiting for it (with a watch), and
    // whether its message is shown then.
    enum class Waiting { Never, AfterTheMessage, Quietly };
    // The one body of ProbePort and probeOrWait.
    bool probe(std::int16_t port, Waiting waiting);
    // After an open: keeps `port` on its device, and ends any waiting.
    void followOpened(std::int16_t port);
    void beginWaiting(std::int16_t port, const QString& note);
    // What the tooltip says of a failed attempt on `port`: nothing for a missing device, the
    // holder and the description for a busy one, the description for any other failure.
    QString waitNote(std::int16_t port, const CommError& error);
    void stopWaiting();
    // Stops following: ports resolve as their bindings and the machine's numbering say.
    void stopFollowing();
    // OpenPort on the awaited port, quietly.
    void reopen();

    CommDevice& m_device;
    Toolkit& m_toolkit;
    TrafficRecord& m_record;
    QString m_commSettings;
    std::int16_t m_selectedPort = 0;
    std::int16_t m_openedPort = 0;

    DeviceWatch* m_watch = nullptr;
    // The port waited for; 0 while not waiting.
    std::int16_t m_waitingPort = 0;
    QString m_awaitedDevice;
    // Why the device did not open the last time, or why it was lost.
    QString m_waitNote;
    // Losses since the watch last saw a change: a port that is lost again at once after a
    // reopen is not retried before something changes, so a failing device cannot keep the
    // program busy.
    int m_lossesSinceChange = 0;
};

}  // namespace logic

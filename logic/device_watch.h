// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the port logic needs to follow one board across re-plugs (the program's --reconnect):
// keeping a COM number on the device it opened, and a word when something changes that may let
// that device open again. The device side implements it by watching the file system; the logic
// only asks and tries the open, so it runs the same on a double in tests.
//
// Rules every implementation keeps:
// - follow(port) is called right after COM`port` opened: from then on, until forget(), the
//   number stands for that device (its bound path, or the adapter's stable identity), never for
//   whatever else the machine's numbering would give it later.
// - Between watch() and stopWatching() the change handler runs, through the event loop and never
//   from inside a call, whenever something happens that may let the followed device open: it
//   appears, its permissions change, a program lets go of it. It may also run when nothing
//   useful changed; the logic then tries once more and waits again.
// - Nothing runs and no resource is held while not watching.

#include <QString>
#include <cstdint>
#include <functional>
#include <utility>

namespace logic {

class DeviceWatch {
public:
    DeviceWatch() = default;
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;
    virtual ~DeviceWatch() = default;

    // COM`port` has just opened its device: keep the number on that device.
    virtual void follow(std::int16_t port) = 0;
    // COM numbers stand for what their binding or the machine's numbering gives again.
    virtual void forget() = 0;

    // Watches for COM`port`'s device; replaces any earlier watch.
    virtual void watch(std::int16_t port) = 0;
    virtual void stopWatching() = 0;

    // The device COM`port` waits for, in words for the operator: its path, its stable name or
    // its serial number.
    virtual QString awaitedDevice(std::int16_t port) = 0;
    // The program that holds COM`port`'s device now, in words ("进程 4242（minicom）"); empty
    // when none can be named.
    virtual QString holder(std::int16_t port) = 0;

    // The handler the window installs once.
    void setOnChange(std::function<void()> handler) { m_onChange = std::move(handler); }

protected:
    void raiseChange() {
        if (m_onChange) {
            m_onChange();
        }
    }

private:
    std::function<void()> m_onChange;
};

}  // namespace logic

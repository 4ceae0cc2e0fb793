// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A device watch in memory, for tests of following a board across re-plugs: it records every
// call in order ("follow 1", "watch 1", "stopWatching", "forget"), answers with the texts it is
// given, and raises a change when the test says the file system changed.

#include <QString>
#include <QStringList>

#include "logic/device_watch.h"

namespace fakes {

class FakeDeviceWatch final : public logic::DeviceWatch {
public:
    void follow(std::int16_t port) override;
    void forget() override;
    void watch(std::int16_t port) override;
    void stopWatching() override;
    QString awaitedDevice(std::int16_t port) override;
    QString holder(std::int16_t port) override;

    // Something changed: runs the change handler, as the event loop would.
    void change() { raiseChange(); }

    QStringList log;
    // The port watched now; 0 when none is.
    std::int16_t watched = 0;
    QString holderText;
};

}  // namespace fakes

// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes/fake_device_watch.h"

namespace fakes {

void FakeDeviceWatch::follow(std::int16_t port) {
    log.append(QStringLiteral("follow %1").arg(port));
}

void FakeDeviceWatch::forget() {
    log.append(QStringLiteral("forget"));
}

void FakeDeviceWatch::watch(std::int16_t port) {
    log.append(QStringLiteral("watch %1").arg(port));
    watched = port;
}

void FakeDeviceWatch::stopWatching() {
    log.append(QStringLiteral("stopWatching"));
    watched = 0;
}

QString FakeDeviceWatch::awaitedDevice(std::int16_t port) {
    return QStringLiteral("/dev/serial/by-id/board-%1").arg(port);
}

QString FakeDeviceWatch::holder(std::int16_t /*port*/) {
    return holderText;
}

}  // namespace fakes

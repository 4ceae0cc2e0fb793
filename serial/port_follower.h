// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Following one board across re-plugs (--reconnect) on Linux: the device watch of
// logic/device_watch.h over the device's port numbering and the kernel's change notices.
//
// Which device a COM number follows once it has opened one:
//   - a number bound with --port follows its path: a /dev/serial/by-id name, a symlink or a node;
//   - any other number follows the adapter it opened, by its /dev/serial/by-id name, or by its
//     serial number when it has no such name; it is pinned to that adapter in the numbering, so
//     that another adapter that takes its place in the machine's order is never opened;
//   - a device with neither (an on-board /dev/ttyS port) has no identity beyond its path, which
//     the number keeps.
//
// Waiting costs no CPU: the kernel wakes the program (inotify, file_watch.h) when an entry is
// created, removed or changed in mode in /dev, in the folder of the followed path and of its
// link's target, and in the machine's lock folder, or when the device node is closed by the
// program that held it. inotify rather than udev's events, because it sees pseudo-terminals,
// symlinks in any folder and lock files, which udev never announces, and a by-id name appears
// only once udev has finished with the device, which is when it can be opened. The logic watches
// again after every attempt that failed, on a fresh descriptor, so that the notices of its own
// attempt (a device opened and closed again) do not wake it once more. While the device is there
// but cannot be opened (busy, or not yet allowed), a change is also raised every kRetryMs: a
// program that held it only by a lock file and died, or let go between an attempt and the next
// watch, leaves no notice.

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>

#include "logic/device_watch.h"
#include "serial/file_watch.h"
#include "serial/port_numbering.h"

namespace serial {

class PortFollower : public QObject, public logic::DeviceWatch {
    Q_OBJECT

public:
    // A serial port as the machine lists it, with what identifies its adapter.
    struct Adapter {
        QString path;
        QString byIdName;
        QString serialNumber;
    };
    using ListAdapters = std::function<QList<Adapter>()>;

    static constexpr int kRetryMs = 1000;

    // Follows through `numbering`, the device's own, which must outlive the follower. `list`
    // lists the machine's adapters; tests hand in pseudo-terminals.
    explicit PortFollower(PortNumbering& numbering, ListAdapters list = &systemAdapters,
                          QObject* parent = nullptr);

    // The serial ports Qt lists now, with their by-id names and serial numbers.
    static QList<Adapter> systemAdapters();

    void follow(std::int16_t port) override;
    void forget() override;
    void watch(std::int16_t port) override;
    void stopWatching() override;
    QString awaitedDevice(std::int16_t port) override;
    QString holder(std::int16_t port) override;

    // What is watched now, for tests.
    QStringList watchedPaths() const { return m_files.watchedPaths(); }

private:
    // What a followed number stands for: a path, or, with a serial number, wherever an adapter
    // with that number is now (the path is where it was last).
    struct Identity {
        QString path;
        QString serialNumber;
    };

    // Pins a number that follows a serial number to where that adapter is now, or to nothing.
    void locate(std::int16_t port);
    void arm(std::int16_t port);
    void filesChanged();

    PortNumbering& m_numbering;
    ListAdapters m_list;
    FileWatch m_files;
    QTimer m_retry;
    std::int16_t m_watched = 0;
    std::map<std::int16_t, Identity> m_identities;
};

}  // namespace serial

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The kernel's change notices (inotify) on a few folders and files, as one Qt signal. Waiting for
// a re-plugged board this way costs nothing while nothing changes: the program sleeps until the
// kernel reports an entry created, removed, renamed or changed in mode, or a watched file closed.

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QStringList>

namespace serial {

class FileWatch : public QObject {
    Q_OBJECT

public:
    explicit FileWatch(QObject* parent = nullptr) : QObject(parent) {}
    ~FileWatch() override;
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // Watches `folders` for their entries and `files` for being closed or changed, replacing
    // what was watched before; paths that do not exist now are left out. False, with
    // errorString(), when the kernel refuses the watch itself.
    bool open(const QStringList& folders, const QStringList& files);
    // Stops watching and gives the descriptor back. Safe from inside changed().
    void close();
    bool isOpen() const { return m_fd >= 0; }
    QString errorString() const { return m_errorString; }
    // The paths watched now, for tests.
    QStringList watchedPaths() const { return m_watched; }

Q_SIGNALS:
    // Something changed; emitted once for every batch of notices the kernel delivers.
    void changed();

private:
    void readNotices();

    int m_fd = -1;
    // A child of this object; close() leaves it to the event loop to delete, as it may be
    // reporting at the time.
    QSocketNotifier* m_notifier = nullptr;
    QStringList m_watched;
    QString m_errorString;
};

}  // namespace serial

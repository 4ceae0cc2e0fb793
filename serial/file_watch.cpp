// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/file_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <QFile>
#include <array>
#include <cerrno>

namespace serial {

namespace {

// A folder's entries coming, going, renamed or changed in mode (udev sets a new device's group
// after the kernel made it). Opening and closing entries is left out: in /dev that is every use of
// /dev/null.
constexpr std::uint32_t kFolderNotices = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                         IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// A device closed by the program that held it, changed in mode, or gone.
constexpr std::uint32_t kFileNotices =
    IN_CLOSE_WRITE | IN_CLOSE_NOWRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

FileWatch::~FileWatch() {
    close();
}

bool FileWatch::open(const QStringList& folders, const QStringList& files) {
    // A fresh descriptor drops every earlier watch at once, and notices still queued with them.
    close();
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_errorString = qt_error_string(errno);
        return false;
    }
    const auto add = [this](const QString& path, std::uint32_t notices) {
        if (::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), notices) >= 0) {
            m_watched.append(path);
        }
    };
    for (const QString& folder : folders) {
        add(folder, kFolderNotices);
    }
    for (const QString& file : files) {
        add(file, kFileNotices);
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &FileWatch::readNotices);
    return true;
}

void FileWatch::close() {
    if (m_notifier != nullptr) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_watched.clear();
}

void FileWatch::readNotices() {
    // What changed is read again from the file system by whoever listens; the notices only wake
    // it, so they are read to the end and dropped.
    std::array<char, 4096> buffer{};
    ssize_t size = 0;
    do {
        size = ::read(m_fd, buffer.data(), buffer.size());
    } while (size > 0);
    Q_EMIT changed();
}

}  // namespace serial

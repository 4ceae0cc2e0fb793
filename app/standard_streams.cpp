// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace app {

namespace {

// Whether `fd` was closed; it is open on /dev/null afterwards, unless even that failed.
bool reopenIfClosed(int fd, int flags) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
        return false;
    }
    // The lower descriptors are open by now, so the lowest free one is `fd` itself.
    const int opened = ::open("/dev/null", flags | O_NOCTTY);
    if (opened >= 0 && opened != fd) {
        ::dup2(opened, fd);
        ::close(opened);
    }
    return true;
}

}  // namespace

StandardStreams openClosedStandardStreams() {
    reopenIfClosed(STDIN_FILENO, O_RDONLY);
    StandardStreams streams;
    streams.outputClosed = reopenIfClosed(STDOUT_FILENO, O_WRONLY);
    reopenIfClosed(STDERR_FILENO, O_WRONLY);
    return streams;
}

}  // namespace app

// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into CuteCom by tools/bench/cutecom_rate, so that it opens a pseudo-terminal as it
// opens a serial line. A pseudo-terminal has no modem lines: asking for them fails (ENOTTY), and
// Qt 5's serial port then closes the port again. Here the modem-line requests on a
// pseudo-terminal succeed and read every line as set; every other request goes to the C
// library as it is. Nothing else of CuteCom's reading or showing changes.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

// Unix98 pseudo-terminal slaves have the majors 136 to 143.
static int isPseudoTerminal(int fd) {
    struct stat status;
    return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
           major(status.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const int modemLines = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
                           request == TIOCMBIC;
    if (modemLines && isPseudoTerminal(fd)) {
        if (request == TIOCMGET) {
            *(int*)argument = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
        }
        return 0;
    }
    static int (*next)(int, unsigned long, ...);
    if (!next) {
        next = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    }
    return next(fd, request, argument);
}

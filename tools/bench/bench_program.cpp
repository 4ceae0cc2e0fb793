// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmark of the program's binary on an X display (DISPLAY, normally Xvfb at 96 dpi, no window
// manager), with COM1 bound to a pseudo-terminal this process holds the master of.
//
// Start-up: the time from just before the program is spawned until the X server reports its
// window mapped (MapNotify on the root window, for a window whose _NET_WM_PID is the program's),
// received by this process as an X client. Start-up includes opening COM1, as every start of the
// program does. One fresh process per run.
//
// Peak memory: VmHWM of the program one second after its window was mapped, once it has painted
// and settled.
//
// Click to wire: with the last program still running, the pointer rests on channel 1's "打开";
// XTest presses button 1 through the X server and, as a hand does, releases it a little later; the
// time runs from just before the release is handed to the server until the four bytes of the frame
// can be read on the pseudo-terminal's master. The X server, the program's event loop, the button's
// handler, the send and the kernel's line are all on the path.
//
// Usage: bench_program --program PATH/zeva-relay-test [--runs N] [--clicks N]
// Prints one "name value" line per run and figure.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_common.h"
#include "sim/pseudo_terminal.h"
#include "ui/layout.h"

namespace {

using Clock = std::chrono::steady_clock;
using logic::Control;

constexpr double kDpi = 96;
constexpr int kGiveUpMs = 20000;
constexpr std::chrono::milliseconds kSettle{1000};
constexpr std::chrono::milliseconds kBetweenClicks{60};
// A hand holds the button down for about this long; the pressed button has painted by then.
constexpr std::chrono::milliseconds kHeld{80};
const QByteArray kFrame = QByteArray::fromHex("A00103A4");

double milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// The middle of `id` in the window's client area, at kDpi.
std::pair<int, int> middleOf(Control id) {
    const QRect rect = bench::controlRect(id, kDpi);
    return {rect.x() + rect.width() / 2, rect.y() + rect.height() / 2};
}

struct FreeDeleter {
    void operator()(void* pointer) const {
        std::free(pointer);
    }  // NOLINT: xcb replies are malloc'd
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

class Display {
public:
    Display() : m_connection(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(m_connection) != 0) {
            return;
        }
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        const char* name = "_NET_WM_PID";
        const Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
            m_connection,
            xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
            nullptr));
        m_pidAtom = atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
        xcb_flush(m_connection);
    }
    ~Display() { xcb_disconnect(m_connection); }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    bool isOpen() const { return xcb_connection_has_error(m_connection) == 0; }

    // Waits for the MapNotify of a window of process `pid`; the time it arrived and the window.
    std::optional<std::pair<Clock::time_point, xcb_window_t>> waitForMap(pid_t pid) {
        const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(kGiveUpMs);
        while (Clock::now() < giveUp) {
            const Reply<xcb_generic_event_t> event(nextEvent());
            if (!event) {
                continue;
            }
            if ((event->response_type & 0x7F) != XCB_MAP_NOTIFY) {
                continue;
            }
            const Clock::time_point arrived = Clock::now();
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event.get());
            if (windowPid(map->window) == pid) {
                return std::pair{arrived, map->window};
            }
        }
        return std::nullopt;
    }

    // Where the window's client area starts on the screen.
    std::pair<int, int> origin(xcb_window_t window) {
        const Reply<xcb_translate_coordinates_reply_t> reply(xcb_translate_coordinates_reply(
            m_connection, xcb_translate_coordinates(m_connection, window, m_root, 0, 0), nullptr));
        return reply ? std::pair<int, int>{reply->dst_x, reply->dst_y} : std::pair<int, int>{};
    }

    void movePointer(int x, int y) {
        xcb_test_fake_input(m_connection, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root,
                            static_cast<int16_t>(x), static_cast<int16_t>(y), 0);
        xcb_flush(m_connection);
    }

    // Presses or releases button 1 where the pointer is; returns once the server has the event.
    void button(bool press) {
        xcb_test_fake_input(m_connection, press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, 1,
                            XCB_CURRENT_TIME, m_root, 0, 0, 0);
        xcb_flush(m_connection);
    }

    // Throws away the events that came in (the window's own maps and configures).
    void drain() {
        while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(m_connection)}) {
        }
    }

private:
    xcb_generic_event_t* nextEvent() {
        if (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            return event;
        }
        pollfd entry{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        ::poll(&entry, 1, 100);
        return xcb_poll_for_event(m_connection);
    }

    pid_t windowPid(xcb_window_t window) {
        const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
            nullptr));
        if (!reply || xcb_get_property_value_length(reply.get()) != 4) {
            return -1;
        }
        return static_cast<pid_t>(
            *static_cast<const uint32_t*>(xcb_get_property_value(reply.get())));
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
};

pid_t spawn(const std::string& program, const std::string& port) {
    std::vector<std::string> arguments{program, "--port", "COM1=" + port};
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

// Reads the master until `count` bytes came or kGiveUpMs passed.
QByteArray readMaster(int fd, qsizetype count) {
    QByteArray bytes;
    const Clock::time_point giveUp = Clock::now() + std::chrono::milliseconds(kGiveUpMs);
    while (bytes.size() < count && Clock::now() < giveUp) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 100) <= 0) {
            continue;
        }
        char buffer[256];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            bytes.append(buffer, got);
        }
    }
    return bytes;
}

// Throws away whatever waits on the master (the master is non-blocking).
void drainMaster(int fd) {
    char buffer[256];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int fail(const char* what) {
    std::fprintf(stderr, "bench_program: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    const auto value = [&arguments](const QString& name, const QString& fallback) {
        const qsizetype at = arguments.indexOf(name);
        return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : fallback;
    };
    const std::string program = value(QStringLiteral("--program"), QString()).toStdString();
    const int runs = value(QStringLiteral("--runs"), QStringLiteral("5")).toInt();
    const int clicks = value(QStringLiteral("--clicks"), QStringLiteral("50")).toInt();
    if (program.empty() || runs < 1 || clicks < 1) {
        return fail("usage: bench_program --program PATH [--runs N] [--clicks N]");
    }
    Display display;
    if (!display.isOpen()) {
        return fail("cannot connect to the X display in DISPLAY");
    }
    sim::PseudoTerminal terminal;
    if (!terminal.isOpen()) {
        return fail("cannot create a pseudo-terminal");
    }
    const std::string port = terminal.slavePath().toStdString();

    pid_t pid = -1;
    xcb_window_t window = XCB_WINDOW_NONE;
    for (int run = 0; run < runs; ++run) {
        if (pid > 0) {
            stop(pid);
        }
        display.drain();
        const Clock::time_point started = Clock::now();
        pid = spawn(program, port);
        if (pid < 0) {
            return fail("cannot start the program");
        }
        const auto mapped = display.waitForMap(pid);
        if (!mapped) {
            stop(pid);
            return fail("the program's window was not mapped");
        }
        window = mapped->second;
        std::this_thread::sleep_for(kSettle);
        std::printf("startup_ms %.1f\n", milliseconds(mapped->first - started));
        std::printf("peak_rss_mb %.1f\n",
                    bench::statusMegabytes(QStringLiteral("/proc/%1/status").arg(pid), "VmHWM"));
    }

    // Clicks on channel 1's "打开" of the last program started.
    const int master = terminal.masterDescriptor();
    const auto [left, top] = display.origin(window);
    const auto [x, y] = middleOf(Control::on1);
    display.movePointer(left + x, top + y);
    std::this_thread::sleep_for(kBetweenClicks);
    std::vector<double> latencies;
    for (int i = 0; i < clicks; ++i) {
        drainMaster(master);
        display.button(true);
        std::this_thread::sleep_for(kHeld);
        const Clock::time_point clicked = Clock::now();
        display.button(false);
        const QByteArray frame = readMaster(master, kFrame.size());
        const Clock::time_point arrived = Clock::now();
        if (frame != kFrame) {
            stop(pid);
            return fail("the frame did not arrive on the line");
        }
        latencies.push_back(milliseconds(arrived - clicked));
        std::this_thread::sleep_for(kBetweenClicks);
    }
    stop(pid);
    std::printf("click_to_wire_ms %.3f\n", median(latencies));
    std::printf("click_to_wire_min_ms %.3f\n",
                *std::min_element(latencies.begin(), latencies.end()));
    std::printf("click_to_wire_max_ms %.3f\n",
                *std::max_element(latencies.begin(), latencies.end()));
    return 0;
}

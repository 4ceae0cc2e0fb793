// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmark of the program receiving a stream from the simulated board: its CPU time and its
// resident memory, from the click that sends a frame until every byte the board sends back is
// shown, in order, in both boxes, with the view at the end.
//
// What runs: this process builds exactly what the program's main() builds (a QApplication on the
// xcb platform of the X display in DISPLAY, normally Xvfb; LinuxCommDevice with COM1 bound to the
// board's pseudo-terminal; MainWindow, its start-up and show()). relay-board-sim runs as a process
// of its own, so its CPU time is not counted. xdotool clicks channel 1's "打开" with a real X
// event; the board accepts the frame silently and then sends the stream, byte i being i modulo
// 256, so that all of it lands on the one reply line behind that send.
//
// Why in this process and not in the program's own binary: from outside, the boxes could only be
// read through the accessibility bridge, which sends every change of the text over D-Bus and
// would add a cost the program does not have. Here the boxes are read through the window's own
// toolkit, and only after the clock has stopped; while the stream runs, the harness looks every
// 10 ms at what costs nothing to read: the size of the received-bytes box's document, whether
// appended text still waits in either box, and whether each has painted since its last change.
//
// What is counted: utime + stime of this process (all its threads, from /proc/self/stat) from
// just before the click until both boxes hold every byte, have painted it, and the events that
// left behind are handled. Then the text of both boxes is compared with what the receive rule
// gives, the work area must show its last row and the received-bytes box its end. Resident
// memory (VmRSS) is read before the click and after each flood; VmHWM is the peak.
//
// Modes:
//   flood (default): --flood BYTES (1 MiB); after the first flood is shown, a second one of the
//     same size goes onto the same line (relay-board-sim --flood-on-input), measured on its own.
//   --rate BYTES_PER_SECOND --seconds N: the board paces BYTES_PER_SECOND * N bytes over N
//     seconds; the figure is the CPU time of the whole stream.
// With --log FILE the window keeps the traffic record in FILE as the program's --log does, so
// that the record's cost shows against the same run without it.
//
// Usage: bench_flood --sim PATH/relay-board-sim [--flood BYTES] [--rate R --seconds N]
//                    [--log FILE]
// Prints one "name value" line per figure; exits non-zero when a byte is missing or out of order.

#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTextDocument>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

#include "app/record_file.h"
#include "bench_common.h"
#include "serial/linux_comm_device.h"
#include "serial/port_numbering.h"
#include "ui/layout.h"
#include "ui/log_view.h"
#include "ui/main_window.h"

namespace {

using logic::Control;

constexpr qint64 kMiB = qint64{1024} * 1024;
constexpr int kPollMs = 10;
// A paced stream is looked at from this long before its end on.
constexpr std::chrono::milliseconds kPacedLookAhead{500};
constexpr int kGiveUpMs = 600000;

double statusMegabytes(const QByteArray& field) {
    return bench::statusMegabytes(QStringLiteral("/proc/self/status"), field);
}

// What a box shows once `entries` have been added by the receive rule to `before`: spaces at both
// ends trimmed, then the entries (the first one without its space when nothing else is left).
QString withEntries(const QString& before, const QString& entries) {
    qsizetype start = 0;
    qsizetype end = before.size();
    while (start < end && before[start] == u' ') {
        ++start;
    }
    while (end > start && before[end - 1] == u' ') {
        --end;
    }
    if (start == end) {
        return entries.mid(1);
    }
    return before.mid(start, end - start) + entries;
}

// Counts a box's changes and its viewport's paints, to tell when what it holds is on the screen.
class Watcher : public QObject {
public:
    explicit Watcher(QPlainTextEdit* view) : m_view(view) {
        view->viewport()->installEventFilter(this);
        connect(view, &QPlainTextEdit::textChanged, this, [this] { m_paintedSinceChange = false; });
    }

    // The characters of the document, without its block separators. The received-bytes box
    // holds no line break, so in it this is the length of text() less what waits to be flushed.
    qsizetype storedCharacters() const {
        return m_view->document()->characterCount() - m_view->document()->blockCount();
    }
    bool paintedSinceChange() const { return m_paintedSinceChange; }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            m_paintedSinceChange = true;
        }
        return false;
    }

private:
    QPlainTextEdit* m_view;
    bool m_paintedSinceChange = true;
};

// Runs the event loop until `done` holds, looking every kPollMs; false after kGiveUpMs.
bool waitFor(const std::function<bool()>& done) {
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > kGiveUpMs) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(kPollMs, &loop, &QEventLoop::quit);
        loop.exec();
    }
    // The paints and the layout work they leave behind belong to the stream too.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return true;
}

// The middle of `id` in the window, in the window's pixels.
QPoint middleOf(const ui::MainWindow& window, Control id) {
    const QWidget* widget = window.widget(id);
    return widget->mapTo(&window, widget->rect().center());
}

struct Stream {
    QProcess* board = nullptr;
    qint64 floodBytes = 0;
};

int fail(const char* what) {
    std::fprintf(stderr, "bench_flood: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zeva-relay-test"));

    QCommandLineParser parser;
    const QCommandLineOption simOption(QStringLiteral("sim"), QStringLiteral("relay-board-sim"),
                                       QStringLiteral("PATH"));
    const QCommandLineOption floodOption(QStringLiteral("flood"), QStringLiteral("Flood size"),
                                         QStringLiteral("BYTES"), QString::number(kMiB));
    const QCommandLineOption rateOption(QStringLiteral("rate"), QStringLiteral("Paced stream"),
                                        QStringLiteral("BYTES_PER_SECOND"));
    const QCommandLineOption secondsOption(QStringLiteral("seconds"),
                                           QStringLiteral("Paced stream's length"),
                                           QStringLiteral("N"), QStringLiteral("30"));
    const QCommandLineOption logOption(QStringLiteral("log"), QStringLiteral("Traffic record"),
                                       QStringLiteral("FILE"));
    parser.addOptions({simOption, floodOption, rateOption, secondsOption, logOption});
    parser.process(application);
    const bool paced = parser.isSet(rateOption);
    const qint64 rate = parser.value(rateOption).toLongLong();
    const qint64 seconds = parser.value(secondsOption).toLongLong();
    const qint64 streamBytes = paced ? rate * seconds : parser.value(floodOption).toLongLong();
    if (!parser.isSet(simOption) || streamBytes <= 0) {
        return fail("usage: bench_flood --sim PATH [--flood BYTES | --rate R --seconds N]");
    }

    QProcess board;
    QStringList boardArguments{QStringLiteral("--silent"), QStringLiteral("--flood"),
                               QString::number(streamBytes)};
    if (paced) {
        boardArguments << QStringLiteral("--rate") << QString::number(rate);
    } else {
        boardArguments << QStringLiteral("--flood-on-input");
    }
    board.setStandardErrorFile(QProcess::nullDevice());
    board.start(parser.value(simOption), boardArguments);
    if (!board.waitForReadyRead(10000)) {
        return fail("relay-board-sim did not start");
    }
    const QString slavePath = QString::fromLocal8Bit(board.readLine().trimmed());

    // What main() builds.
    std::unique_ptr<app::RecordFile> record;
    if (parser.isSet(logOption)) {
        QString error;
        record = app::RecordFile::open(parser.value(logOption), error);
        if (!record) {
            return fail(qPrintable(error.trimmed()));
        }
    }
    serial::LinuxCommDevice device{serial::PortNumbering({{1, slavePath}})};
    if (record) {
        record->setDevicePaths(device.portInfo().devicePath);
    }
    // A port that cannot be opened would stop the window's start-up in a message box that nobody
    // here answers: the run fails instead.
    try {
        device.CommPort(1);
        device.PortOpen(true);
        device.PortOpen(false);
    } catch (const logic::CommError& error) {
        return fail(qPrintable(error.description()));
    }
    ui::MainWindow window(device, device.portInfo(), record ? *record : logic::noTrafficRecord());
    window.load();
    window.show();
    auto* work = static_cast<ui::LogView*>(window.widget(Control::Text1));
    auto* received = static_cast<ui::LogView*>(window.widget(Control::Text4));
    const Watcher workWatcher(work);
    const Watcher receivedWatcher(received);
    if (!waitFor([&] { return window.windowHandle()->isExposed() && device.PortOpen(); })) {
        return fail("the window did not show or the port did not open");
    }
    // Whatever start-up left for the event loop, before the clock starts.
    QElapsedTimer settle;
    settle.start();
    waitFor([&] { return settle.elapsed() > 500; });

    const QString sendLines = QStringLiteral("\r\n发出数据:") + window.text(Control::on1text) +
                              QStringLiteral("\r\n-->收到数据:");
    const QString workBefore = window.text(Control::Text1) + sendLines;
    const QString receivedBefore = window.text(Control::Text4);

    // Waits until both boxes show `bytes` bytes of the stream, and checks them.
    qint64 shownBytes = 0;
    const auto showStream = [&](qint64 bytes) -> bool {
        const qsizetype receivedSize =
            withEntries(receivedBefore, bench::streamEntries(0, qMin<qint64>(bytes, 2))).size() +
            3 * (bytes - qMin<qint64>(bytes, 2));
        const bool shown = waitFor([&] {
            return receivedWatcher.storedCharacters() == receivedSize &&
                   !received->hasPendingText() && !work->hasPendingText() &&
                   receivedWatcher.paintedSinceChange() && workWatcher.paintedSinceChange();
        });
        shownBytes = bytes;
        return shown;
    };

    const double residentBefore = statusMegabytes("VmRSS");
    const QPoint click = middleOf(window, Control::on1);
    QElapsedTimer wall;
    const double cpuBefore = bench::cpuSeconds();
    wall.start();
    QProcess::startDetached(
        QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(window.winId()),
         QString::number(click.x()), QString::number(click.y()), QStringLiteral("click"),
         QStringLiteral("1")});
    if (paced) {
        // The stream takes its seconds whatever happens; looking every kPollMs all along would
        // add this process's own wake-ups to the program's CPU time.
        QEventLoop loop;
        QTimer::singleShot(std::chrono::seconds(seconds) - kPacedLookAhead, &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
    if (!showStream(streamBytes)) {
        return fail("the stream was not shown in time");
    }
    const double firstCpu = bench::cpuSeconds() - cpuBefore;
    const qint64 firstWallMs = wall.elapsed();
    const double residentFirst = statusMegabytes("VmRSS");

    double secondCpu = 0;
    double residentSecond = residentFirst;
    if (!paced) {
        const double cpuSecondBefore = bench::cpuSeconds();
        board.write("\n");
        if (!showStream(2 * streamBytes)) {
            return fail("the second flood was not shown in time");
        }
        secondCpu = bench::cpuSeconds() - cpuSecondBefore;
        residentSecond = statusMegabytes("VmRSS");
    }

    // The clock has stopped: now the whole text of both boxes, and the view at the end.
    const QString stream = bench::streamEntries(0, shownBytes);
    if (window.text(Control::Text1) != withEntries(workBefore, stream)) {
        return fail("the work area does not show every byte in order");
    }
    if (window.text(Control::Text4) != withEntries(receivedBefore, stream)) {
        return fail("the received-bytes box does not show every byte in order");
    }
    for (const QPlainTextEdit* box :
         {static_cast<QPlainTextEdit*>(work), static_cast<QPlainTextEdit*>(received)}) {
        if (box->verticalScrollBar()->value() != box->verticalScrollBar()->maximum()) {
            return fail("a box does not show the end of its text");
        }
    }

    const double mib = static_cast<double>(streamBytes) / kMiB;
    if (paced) {
        std::printf("rate_cpu_s %.3f\n", firstCpu);
        std::printf("rate_wall_s %.1f\n", static_cast<double>(firstWallMs) / 1000);
    } else {
        std::printf("flood_cpu_s_per_mib %.3f\n", firstCpu / mib);
        std::printf("flood_second_cpu_s_per_mib %.3f\n", secondCpu / mib);
        std::printf("flood_wall_ms %lld\n", static_cast<long long>(firstWallMs));
        std::printf("rss_growth_mb_per_mib %.1f\n", (residentFirst - residentBefore) / mib);
        std::printf("rss_growth_second_mb_per_mib %.1f\n", (residentSecond - residentFirst) / mib);
    }
    if (record && record->stopped()) {
        return fail("the traffic record could not be written");
    }
    std::printf("rss_before_mb %.1f\n", residentBefore);
    std::printf("peak_rss_mb %.1f\n", statusMegabytes("VmHWM"));
    board.kill();
    board.waitForFinished();
    return 0;
}

// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmark of one receive event: 1024 bytes through the program's own path, timed from the
// device's OnComm until both boxes have painted them. The path is the real one: frmmain's
// MSComm1_OnComm, the receive path (the end reads of its trimming rule, then one append per
// box), MainWindow's toolkit operations and the two LogViews, in a shown window on the offscreen
// platform. Only the device is a stand-in that hands over bytes from memory, so that nothing but
// the program's own work is timed.
//
// Before the events, the work area holds 10 KiB, 1 MiB or 10 MiB of received bytes, either as one
// reply line behind one send or as many short send and reply lines (a send every 16 bytes), and
// the received-bytes box holds as many bytes. The time runs from the OnComm until both boxes have
// painted the event and handled the events the paints left behind; every event comes after a
// quiet spell longer than a frame, so each one is shown on its own. Targets: at most 2 ms per
// event, and the 10 MiB cases within twice the 10 KiB ones.
//
// A reference row rewrites the whole text of a plain QPlainTextEdit for every byte (read, trim,
// extend, write back) at 10 KiB, the cost the receive path avoids.
//
// Usage: bench_receive_event [Google Benchmark flags]. Medians of 5 repetitions unless
// --benchmark_repetitions says otherwise.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QThread>
#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "logic/comm_device.h"
#include "ui/frame_clock.h"
#include "ui/main_window.h"

namespace {

using logic::Control;

constexpr int kEventBytes = 1024;
constexpr qsizetype kKiB = 1024;
constexpr qsizetype kMiB = 1024 * kKiB;
constexpr int kReplyBytes = 16;
constexpr unsigned long kQuietMs = ui::FrameClock::kFrameMs + 10;
constexpr qint64 kGiveUpMs = 10000;
const QSize kWorkArea{465, 125};
constexpr QStringView kSend = u"\r\n发出数据:A0 01 03 A4\r\n-->收到数据:";

enum class Shape : std::uint8_t { OneReplyLine, ShortLines };

// A port that is always there and hands over the bytes it is given, one receive event at a time.
class MemoryDevice final : public logic::CommDevice {
public:
    void receive(const std::vector<std::uint8_t>& bytes) {
        m_waiting.insert(m_waiting.end(), bytes.begin(), bytes.end());
        raiseOnComm();
    }

    void CommPort(std::int16_t /*port*/) override {}
    std::int16_t CommPort() override { return 1; }
    void Settings(const QString& /*settings*/) override {}
    void PortOpen(bool open) override { m_open = open; }
    bool PortOpen() override { return m_open; }
    void OutBufferSize(std::int16_t /*size*/) override {}
    void InBufferSize(std::int16_t /*size*/) override {}
    void InputMode(std::int32_t /*mode*/) override {}
    void InputLen(std::int16_t /*length*/) override {}
    void InBufferCount(std::int16_t /*count*/) override { m_waiting.clear(); }
    std::int16_t InBufferCount() override {
        return static_cast<std::int16_t>(std::min<std::size_t>(m_waiting.size(), 32767));
    }
    void OutBufferCount(std::int16_t /*count*/) override {}
    void SThreshold(std::int16_t /*threshold*/) override {}
    void RThreshold(std::int16_t /*threshold*/) override {}
    void Output(std::span<const std::uint8_t> /*bytes*/) override {}
    std::vector<std::uint8_t> Input() override {
        std::vector<std::uint8_t> bytes(m_waiting.begin(), m_waiting.end());
        m_waiting.clear();
        return bytes;
    }
    // Every byte is raised as it is given: none waits for an event to be taken.
    bool takeReceiveEvent() override { return false; }
    std::int16_t CommEvent() override { return logic::kComEvReceive; }
    QString CommEventDescription() override { return {}; }

private:
    void eventsReleased() override {}

    std::deque<std::uint8_t> m_waiting;
    bool m_open = false;
};

QString receivedBytes(qsizetype count, qsizetype first = 0) {
    return bench::streamEntries(first, count);
}

// `bytes` received bytes behind one send, or behind a send every kReplyBytes bytes.
QString content(Shape shape, qsizetype bytes) {
    QString text = kSend.toString();
    if (shape == Shape::OneReplyLine) {
        text += receivedBytes(bytes);
        return text;
    }
    text.reserve(bytes / kReplyBytes * (kSend.size() + qsizetype{3} * kReplyBytes));
    for (qsizetype at = 0; at < bytes; at += kReplyBytes) {
        text += kSend;
        text += receivedBytes(kReplyBytes, at);
    }
    return text;
}

// Watches a box: how often its text changed and its viewport painted.
class Watcher : public QObject {
public:
    void watch(QPlainTextEdit* view) {
        view->viewport()->installEventFilter(this);
        connect(view, &QPlainTextEdit::textChanged, this, [this] {
            ++changes;
            paintsAtChange = paints;
        });
    }

    bool shownSince(int changesBefore) const {
        return changes != changesBefore && paints != paintsAtChange;
    }

    int changes = 0;
    int paints = 0;
    int paintsAtChange = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// Processes events until both boxes have changed since `before` and painted since, then the
// events those left behind: the paints and the layout work that follow belong to the change too.
bool waitUntilShown(const std::vector<const Watcher*>& watchers, const std::vector<int>& before) {
    QElapsedTimer waited;
    waited.start();
    for (std::size_t i = 0; i < watchers.size(); ++i) {
        while (!watchers[i]->shownSince(before[i])) {
            if (waited.elapsed() > kGiveUpMs) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    return true;
}

// The window on the device double, shown, with both boxes filled; one at a time, kept while the
// benchmarks use the same content.
struct Window {
    Shape shape = Shape::OneReplyLine;
    qsizetype bytes = 0;
    MemoryDevice device;
    std::unique_ptr<ui::MainWindow> window;
    Watcher work;
    Watcher received;
};

std::unique_ptr<Window>& cachedWindow() {
    static std::unique_ptr<Window> window;
    return window;
}

Window& filledWindow(Shape shape, qsizetype bytes) {
    std::unique_ptr<Window>& cached = cachedWindow();
    if (cached && cached->shape == shape && cached->bytes == bytes) {
        return *cached;
    }
    cached.reset();
    cached = std::make_unique<Window>();
    Window& w = *cached;
    w.shape = shape;
    w.bytes = bytes;
    w.window = std::make_unique<ui::MainWindow>(w.device);
    w.window->load();
    w.window->show();
    w.work.watch(static_cast<QPlainTextEdit*>(w.window->widget(Control::Text1)));
    w.received.watch(static_cast<QPlainTextEdit*>(w.window->widget(Control::Text4)));
    const std::vector<int> before{w.work.changes, w.received.changes};
    w.window->setText(Control::Text1, content(shape, bytes));
    w.window->setText(Control::Text4, receivedBytes(bytes).mid(1));
    waitUntilShown({&w.work, &w.received}, before);
    return w;
}

void receiveEvent(benchmark::State& state, Shape shape, qsizetype bytes) {
    Window& w = filledWindow(shape, bytes);
    qsizetype first = 0;
    while (state.KeepRunning()) {
        QThread::msleep(kQuietMs);
        QCoreApplication::processEvents();
        std::vector<std::uint8_t> event(kEventBytes);
        for (int i = 0; i < kEventBytes; ++i) {
            event[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((first + i) % 256);
        }
        const std::vector<int> before{w.work.changes, w.received.changes};
        QElapsedTimer timer;
        timer.start();
        w.device.receive(event);
        if (!waitUntilShown({&w.work, &w.received}, before)) {
            state.SkipWithError("the boxes did not show the event");
            break;
        }
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        first += kEventBytes;
    }
}

// The whole text read, trimmed, extended and written back for every byte, in a plain box.
void rewriteWholeText(benchmark::State& state) {
    Watcher watcher;
    QPlainTextEdit view;
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    view.resize(kWorkArea);
    watcher.watch(&view);
    view.show();
    const QString original = content(Shape::OneReplyLine, 10 * kKiB);
    while (state.KeepRunning()) {
        view.setPlainText(original);
        QThread::msleep(kQuietMs);
        QCoreApplication::processEvents();
        const QString event = receivedBytes(kEventBytes);
        const std::vector<int> before{watcher.changes};
        QElapsedTimer timer;
        timer.start();
        for (qsizetype at = 0; at < event.size(); at += 3) {
            QString text = view.toPlainText();
            while (text.startsWith(u' ')) {
                text.remove(0, 1);
            }
            while (text.endsWith(u' ')) {
                text.chop(1);
            }
            text += QStringView(event).sliced(at, 3);
            view.setPlainText(text);
        }
        if (!waitUntilShown({&watcher}, before)) {
            state.SkipWithError("the box did not show the event");
            break;
        }
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    }
}

std::string sizeName(qsizetype bytes) {
    return bytes >= kMiB ? std::to_string(bytes / kMiB) + "MiB"
                         : std::to_string(bytes / kKiB) + "KiB";
}

void registerBenchmarks() {
    const std::vector<std::pair<Shape, std::string>> shapes{{Shape::OneReplyLine, "one_reply_line"},
                                                            {Shape::ShortLines, "short_lines"}};
    for (const auto& [shape, shapeName] : shapes) {
        for (const qsizetype bytes : {10 * kKiB, kMiB, 10 * kMiB}) {
            const std::string name = "receive_event/" + shapeName + '/' + sizeName(bytes);
            benchmark::RegisterBenchmark(name.c_str(),
                                         [shape = shape, bytes](benchmark::State& state) {
                                             receiveEvent(state, shape, bytes);
                                         })
                ->UseManualTime()
                ->Iterations(30)
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("rewrite_whole_text_per_byte/plain_box/10KiB", rewriteWholeText)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::vector<char*> arguments(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    std::string aggregates = "--benchmark_report_aggregates_only=true";
    const bool chosen = std::any_of(arguments.begin(), arguments.end(), [](const char* argument) {
        return std::string(argument).rfind("--benchmark_repetitions", 0) == 0;
    });
    if (!chosen) {
        arguments.push_back(repetitions.data());
        arguments.push_back(aggregates.data());
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        return 1;
    }
    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    cachedWindow().reset();
    return 0;
}

// Benchmarks of LogView, the text box of the work area and of the received-bytes box.
//
// One receive event: 1024 bytes, " XX" each, appended to a shown box that already holds 10 KiB,
// 1 MiB or 10 MiB of received bytes, either as one reply line behind one send or as many short
// send and reply lines. The time runs from the append until the box has painted it and handled
// the events the paint left; every event arrives after a quiet spell longer than a frame, so each
// one is shown on its own. The event is appended in one call, and byte by byte with the end
// reads of the receive handler's trimming. A reference row rewrites the whole text of a plain
// QPlainTextEdit per byte, at 10 KiB.
//
// Before those, a flood into both boxes at once: the resident memory and the CPU time each MiB
// received adds. The heap of a fresh process gives the cleanest figure, so run each flood on its
// own for it (--benchmark_filter=flood/4MiB/short_lines).
//
// Usage: bench_log_view [Google Benchmark flags]. Medians of 5 repetitions unless
// --benchmark_repetitions says otherwise.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QThread>
#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ui/log_view.h"

namespace {

using ui::LogView;

constexpr int kEventBytes = 1024;
constexpr qsizetype kKiB = 1024;
constexpr qsizetype kMiB = 1024 * kKiB;
constexpr int kReplyBytes = 16;
constexpr unsigned long kQuietMs = 20;
constexpr int kFloodMiB = 4;
const QSize kWorkArea{465, 125};
const QSize kReceivedBox{81, 41};
constexpr QStringView kSend = u"\r\n发出数据:A0 01 03 A4\r\n-->收到数据:";

enum class Shape : std::uint8_t { OneReplyLine, ShortLines };

QString receivedBytes(qsizetype count, qsizetype first = 0) {
    static const QString kDigits = QStringLiteral("0123456789ABCDEF");
    QString text(3 * count, u' ');
    for (qsizetype i = 0; i < count; ++i) {
        const auto byte = static_cast<int>((first + i) % 256);
        text[3 * i + 1] = kDigits[byte / 16];
        text[3 * i + 2] = kDigits[byte % 16];
    }
    return text;
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

    int changes = 0;
    int paints = 0;
    int paintsAtChange = 0;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// Processes events until the text has changed since `changesBefore` and the box has painted
// since, then the events those left behind: the paints and the layout work that follow belong to
// the change too.
bool waitUntilShown(const Watcher& watcher, int changesBefore) {
    QElapsedTimer waited;
    waited.start();
    while (watcher.changes == changesBefore || watcher.paints == watcher.paintsAtChange) {
        if (waited.elapsed() > 10000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    return true;
}

// A shown box and its watcher; one at a time, kept while benchmarks use the same content.
struct Box {
    LogView::Mode mode = LogView::Mode::MultiLine;
    Shape shape = Shape::OneReplyLine;
    qsizetype bytes = 0;
    std::unique_ptr<QPlainTextEdit> view;
    Watcher watcher;
};

void show(Box& box, QPlainTextEdit* view, QSize size) {
    box.view.reset(view);
    view->resize(size);
    box.watcher.watch(view);
    view->show();
}

// The box the receive events go to; it must go before the application does.
std::unique_ptr<Box>& cachedBox() {
    static std::unique_ptr<Box> box = std::make_unique<Box>();
    return box;
}

Box& filledBox(LogView::Mode mode, Shape shape, qsizetype bytes) {
    Box& box = *cachedBox();
    if (box.view && box.mode == mode && box.shape == shape && box.bytes == bytes) {
        return box;
    }
    box.mode = mode;
    box.shape = shape;
    box.bytes = bytes;
    auto* view = new LogView(mode);
    show(box, view, mode == LogView::Mode::OneLine ? kReceivedBox : kWorkArea);
    const int before = box.watcher.changes;
    view->appendText(content(shape, bytes));
    waitUntilShown(box.watcher, before);
    return box;
}

void receiveEvent(benchmark::State& state, LogView::Mode mode, Shape shape, qsizetype bytes,
                  bool byteByByte) {
    Box& box = filledBox(mode, shape, bytes);
    auto& view = static_cast<LogView&>(*box.view);
    qsizetype first = 0;
    while (state.KeepRunning()) {
        QThread::msleep(kQuietMs);
        QCoreApplication::processEvents();
        const QString event = receivedBytes(kEventBytes, first);
        const int before = box.watcher.changes;
        QElapsedTimer timer;
        timer.start();
        if (byteByByte) {
            for (qsizetype at = 0; at < event.size(); at += 3) {
                // The receive handler trims spaces at both ends before each byte.
                benchmark::DoNotOptimize(view.textStart(1));
                benchmark::DoNotOptimize(view.textEnd(1));
                view.appendText(QStringView(event).sliced(at, 3));
            }
        } else {
            view.appendText(event);
        }
        if (!waitUntilShown(box.watcher, before)) {
            state.SkipWithError("the box did not show the event");
            break;
        }
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
        first += kEventBytes;
    }
}

// The whole text read, trimmed, extended and written back for every byte, in a plain box.
void rewriteWholeText(benchmark::State& state) {
    Box box;
    auto* view = new QPlainTextEdit;
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    show(box, view, kWorkArea);
    const QString original = content(Shape::OneReplyLine, 10 * kKiB);
    while (state.KeepRunning()) {
        view->setPlainText(original);
        QThread::msleep(kQuietMs);
        QCoreApplication::processEvents();
        const QString event = receivedBytes(kEventBytes);
        const int before = box.watcher.changes;
        QElapsedTimer timer;
        timer.start();
        for (qsizetype at = 0; at < event.size(); at += 3) {
            QString text = view->toPlainText();
            while (text.startsWith(u' ')) {
                text.remove(0, 1);
            }
            while (text.endsWith(u' ')) {
                text.chop(1);
            }
            text += QStringView(event).sliced(at, 3);
            view->setPlainText(text);
        }
        if (!waitUntilShown(box.watcher, before)) {
            state.SkipWithError("the box did not show the event");
            break;
        }
        state.SetIterationTime(static_cast<double>(timer.nsecsElapsed()) / 1e9);
    }
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](timeval time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Floods both boxes as the receive path does, every received byte into both and every send into
// the work area, and counts what each MiB received adds: resident memory and CPU time.
void flood(benchmark::State& state, Shape shape) {
    while (state.KeepRunning()) {
        Box workArea;
        Box receivedBox;
        auto* work = new LogView(LogView::Mode::MultiLine);
        auto* received = new LogView(LogView::Mode::OneLine);
        show(workArea, work, kWorkArea);
        show(receivedBox, received, kReceivedBox);
        received->setText(QStringLiteral("Text4"));
        const int before = workArea.watcher.changes;
        work->appendText(kSend);
        waitUntilShown(workArea.watcher, before);
        const long residentBefore = residentKiB();
        const double cpuBefore = cpuSeconds();
        for (qsizetype at = 0; at < kFloodMiB * kMiB; at += kEventBytes) {
            if (shape == Shape::ShortLines) {
                for (qsizetype reply = 0; reply < kEventBytes; reply += kReplyBytes) {
                    const QString bytes = receivedBytes(kReplyBytes, at + reply);
                    work->appendText(kSend);
                    work->appendText(bytes);
                    received->appendText(bytes);
                }
            } else {
                const QString bytes = receivedBytes(kEventBytes, at);
                work->appendText(bytes);
                received->appendText(bytes);
            }
            QCoreApplication::processEvents();
        }
        // One last byte, so that both boxes show everything once they have shown it.
        const int workChanges = workArea.watcher.changes;
        const int receivedChanges = receivedBox.watcher.changes;
        work->appendText(u" 00");
        received->appendText(u" 00");
        waitUntilShown(workArea.watcher, workChanges);
        waitUntilShown(receivedBox.watcher, receivedChanges);
        state.counters["MB_per_MiB"] =
            static_cast<double>(residentKiB() - residentBefore) * 1024.0 / 1e6 / kFloodMiB;
        state.counters["CPU_s_per_MiB"] = (cpuSeconds() - cpuBefore) / kFloodMiB;
    }
}

std::string sizeName(qsizetype bytes) {
    return bytes >= kMiB ? std::to_string(bytes / kMiB) + "MiB"
                         : std::to_string(bytes / kKiB) + "KiB";
}

void registerBenchmarks() {
    benchmark::RegisterBenchmark("flood/4MiB/one_reply_line",
                                 [](benchmark::State& state) { flood(state, Shape::OneReplyLine); })
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kSecond);
    benchmark::RegisterBenchmark("flood/4MiB/short_lines",
                                 [](benchmark::State& state) { flood(state, Shape::ShortLines); })
        ->Iterations(1)
        ->Repetitions(1)
        ->Unit(benchmark::kSecond);
    const std::vector<std::pair<LogView::Mode, std::string>> modes{
        {LogView::Mode::MultiLine, "work_area"}, {LogView::Mode::OneLine, "received_box"}};
    const std::vector<std::pair<Shape, std::string>> shapes{{Shape::OneReplyLine, "one_reply_line"},
                                                            {Shape::ShortLines, "short_lines"}};
    for (const auto& modeEntry : modes) {
        for (const auto& shapeEntry : shapes) {
            for (const qsizetype bytes : {10 * kKiB, kMiB, 10 * kMiB}) {
                for (const bool byteByByte : {false, true}) {
                    const LogView::Mode mode = modeEntry.first;
                    const Shape shape = shapeEntry.first;
                    std::string name = "receive_event/";
                    name += modeEntry.second;
                    name += '/';
                    name += shapeEntry.second;
                    name += '/';
                    name += sizeName(bytes);
                    name += byteByByte ? "/byte_by_byte" : "/one_call";
                    benchmark::RegisterBenchmark(name.c_str(),
                                                 [=](benchmark::State& state) {
                                                     receiveEvent(state, mode, shape, bytes,
                                                                  byteByByte);
                                                 })
                        ->UseManualTime()
                        ->Iterations(30)
                        ->Unit(benchmark::kMillisecond);
                }
            }
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
    cachedBox().reset();
    return 0;
}

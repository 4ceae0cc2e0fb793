// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the benchmarks share: this process's CPU time, a process's memory figures, the text the
// receive path shows for a run of the stream the simulated board sends (in which byte i is i modulo
// 256), and where a control stands in the window.

#include <time.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QRect>
#include <QString>
#include <QtGlobal>
#include <optional>

#include "codec/hex_codec.h"
#include "ui/layout.h"

namespace bench {

// The CPU time of this process, all its threads, in seconds, to the nanosecond: the floors
// take a hundredth of a second or so, the step of the clock ticks /proc/self/stat counts in.
// 0 when it cannot be read.
inline double cpuSeconds() {
    timespec now{};
    if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now) != 0) {
        return 0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// A field of a /proc/PID/status file ("/proc/self/status" for this process) in MB: VmRSS,
// VmHWM. 0 when it cannot be read.
inline double statusMegabytes(const QString& statusFile, const QByteArray& field) {
    QFile status(statusFile);
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QByteArray label = field + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(label)) {
            return line.mid(label.size()).trimmed().split(' ').first().toDouble() * 1024 / 1e6;
        }
    }
    return 0;
}

// `count` bytes of the stream from byte `first` on, as the receive path shows them: " XX" each.
inline QString streamEntries(qint64 first, qint64 count) {
    QString text(3 * count, u' ');
    for (qint64 i = 0; i < count; ++i) {
        const auto byte = static_cast<int>((first + i) % 256);
        text[3 * i + 1] = codec::kUpperHexDigits[byte / 16];
        text[3 * i + 2] = codec::kUpperHexDigits[byte % 16];
    }
    return text;
}

// Where `id` stands in the window's client area, in pixels at `dpi`.
inline QRect controlRect(logic::Control id, double dpi) {
    QPoint topLeft;
    for (std::optional<logic::Control> c = id; c; c = ui::design(*c).parent) {
        topLeft += QPoint(ui::twipsToPixels(ui::design(*c).left, dpi),
                          ui::twipsToPixels(ui::design(*c).top, dpi));
    }
    const ui::ControlDesign& design = ui::design(id);
    return {topLeft,
            QSize(ui::twipsToPixels(design.width, dpi), ui::twipsToPixels(design.height, dpi))};
}

}  // namespace bench

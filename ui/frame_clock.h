// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace ui {

// The frame clock of all boxes. Appended text waits for the next tick, at most a frame after the
// one before, so the first bytes after a quiet spell show at once and a stream shows at the
// frame rate. A box whose waiting text has grown large asks for a tick at once. On a tick every
// waiting box flushes, and the window paints them all in the one pass that follows.
class FrameClock : public QObject {
public:
    // A frame: 25 a second, smooth for text that scrolls fast.
    static constexpr qint64 kFrameMs = 40;
    // The frame after a tick that flushed at most kSmallFrame characters from all boxes together
    // (a slow stream, up to about 3 KB/s of received bytes): 10 a second, each frame a few rows,
    // at less than half the cost of 25.
    static constexpr qint64 kSlowFrameMs = 100;
    static constexpr qsizetype kSmallFrame = 1024;

    // Flushes one box's waiting text; returns how many characters it flushed.
    using Flush = std::function<qsizetype()>;

    // One clock for the application, deleted with it.
    static FrameClock& instance();

    // `box` flushes through `flush` at the next tick; `atOnce` makes that tick come now.
    void schedule(const QObject* box, Flush flush, bool atOnce);
    void cancel(const QObject* box);

    // Time is a seam for tests: holdTime() stops the clock's time, which then moves only by
    // advance(), ticking wherever a tick falls due; followWallClock() lets it run again.
    void holdTime();
    void advance(qint64 ms);
    void followWallClock();

private:
    struct Waiting {
        QPointer<const QObject> box;
        Flush flush;
    };

    explicit FrameClock(QObject* parent);
    qint64 now() const;
    void tickIn(qint64 wait);
    void tick();

    QTimer m_timer;
    QElapsedTimer m_wall;
    // now() is the wall clock's time plus m_shift, or m_heldAt while time is held; then a tick
    // due at m_due (-1: none) replaces the timer.
    qint64 m_shift = 0;
    bool m_held = false;
    qint64 m_heldAt = 0;
    qint64 m_due = -1;
    qint64 m_lastTick = 0;
    qint64 m_frameMs = kFrameMs;
    QList<Waiting> m_waiting;
};

}  // namespace ui

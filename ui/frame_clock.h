// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace ui {

class LogView;

// The frame clock of all boxes. Appended text waits for the next tick, at most a frame after the
// one before, so the first bytes after a quiet spell show at once and a stream shows at the
// frame rate. A frame is LogView::kFrameMs long, or LogView::kSlowFrameMs after a tick that
// flushed little (a slow stream). A box whose waiting text has grown large asks for a tick at
// once. On a tick every waiting box flushes, and the window paints them all in the one pass that
// follows.
class FrameClock : public QObject {
public:
    // One clock for the application, deleted with it.
    static FrameClock& instance();

    void schedule(LogView* view, bool atOnce);
    void cancel(LogView* view);

private:
    explicit FrameClock(QObject* parent);
    void tick();

    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_frameMs;
    QList<QPointer<LogView>> m_waiting;
};

}  // namespace ui

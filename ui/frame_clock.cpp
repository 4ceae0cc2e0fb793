// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frame_clock.h"

#include <QCoreApplication>
#include <algorithm>
#include <utility>

#include "ui/log_view.h"

namespace ui {

FrameClock& FrameClock::instance() {
    static QPointer<FrameClock> current;
    FrameClock* clock = current.data();
    if (clock == nullptr) {
        clock = new FrameClock(QCoreApplication::instance());
        current = clock;
    }
    return *clock;
}

void FrameClock::schedule(LogView* view, bool atOnce) {
    if (!m_waiting.contains(view)) {
        m_waiting.append(view);
    }
    const qint64 wait =
        atOnce ? 0 : std::clamp<qint64>(m_frameMs - m_sinceTick.elapsed(), 0, m_frameMs);
    if (!m_timer.isActive() || m_timer.remainingTime() > wait) {
        m_timer.start(static_cast<int>(wait));
    }
}

void FrameClock::cancel(LogView* view) {
    m_waiting.removeAll(view);
    if (m_waiting.isEmpty()) {
        m_timer.stop();
    }
}

FrameClock::FrameClock(QObject* parent) : QObject(parent), m_frameMs(LogView::kFrameMs) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_sinceTick.start();
    connect(&m_timer, &QTimer::timeout, this, &FrameClock::tick);
}

void FrameClock::tick() {
    m_sinceTick.restart();
    const QList<QPointer<LogView>> waiting = std::exchange(m_waiting, {});
    qsizetype flushed = 0;
    for (const QPointer<LogView>& view : waiting) {
        if (!view.isNull()) {
            flushed += view->pending().size();
            view->flushPending();
        }
    }
    m_frameMs = flushed <= LogView::kSmallFrame ? LogView::kSlowFrameMs : LogView::kFrameMs;
}

}  // namespace ui

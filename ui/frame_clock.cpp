// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/frame_clock.h"

#include <QCoreApplication>
#include <algorithm>
#include <utility>

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

void FrameClock::schedule(const QObject* box, Flush flush, bool atOnce) {
    const bool waits = std::any_of(m_waiting.cbegin(), m_waiting.cend(),
                                   [box](const Waiting& waiting) { return waiting.box == box; });
    if (!waits) {
        m_waiting.append({box, std::move(flush)});
    }
    tickIn(atOnce ? 0 : std::clamp<qint64>(m_lastTick + m_frameMs - now(), 0, m_frameMs));
}

void FrameClock::cancel(const QObject* box) {
    m_waiting.removeIf([box](const Waiting& waiting) { return waiting.box == box; });
    if (m_waiting.isEmpty()) {
        m_timer.stop();
        m_due = -1;
    }
}

void FrameClock::holdTime() {
    if (m_held) {
        return;
    }
    m_heldAt = now();
    m_held = true;
    if (m_timer.isActive()) {
        m_due = m_heldAt + m_timer.remainingTime();
        m_timer.stop();
    }
}

void FrameClock::advance(qint64 ms) {
    const qint64 until = m_heldAt + ms;
    while (m_held && m_due >= 0 && m_due <= until) {
        m_heldAt = std::exchange(m_due, -1);
        tick();
    }
    m_heldAt = until;
}

void FrameClock::followWallClock() {
    if (!m_held) {
        return;
    }
    m_held = false;
    m_shift = m_heldAt - m_wall.elapsed();
    if (m_due >= 0) {
        m_timer.start(static_cast<int>(std::max<qint64>(m_due - m_heldAt, 0)));
        m_due = -1;
    }
}

FrameClock::FrameClock(QObject* parent) : QObject(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    m_wall.start();
    connect(&m_timer, &QTimer::timeout, this, &FrameClock::tick);
}

qint64 FrameClock::now() const {
    return m_held ? m_heldAt : m_wall.elapsed() + m_shift;
}

// The next tick in `wait` milliseconds, unless one comes sooner.
void FrameClock::tickIn(qint64 wait) {
    if (m_held) {
        if (m_due < 0 || m_due > m_heldAt + wait) {
            m_due = m_heldAt + wait;
        }
        return;
    }
    if (!m_timer.isActive() || m_timer.remainingTime() > wait) {
        m_timer.start(static_cast<int>(wait));
    }
}

void FrameClock::tick() {
    m_lastTick = now();
    const QList<Waiting> waiting = std::exchange(m_waiting, {});
    qsizetype flushed = 0;
    for (const Waiting& box : waiting) {
        if (!box.box.isNull()) {
            flushed += box.flush();
        }
    }
    m_frameMs = flushed <= kSmallFrame ? kSlowFrameMs : kFrameMs;
}

}  // namespace ui

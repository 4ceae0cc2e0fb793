// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/lamp.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace ui {

Lamp::Lamp(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void Lamp::setColor(const QColor& color) {
    if (color != m_color) {
        m_color = color;
        update();
    }
}

void Lamp::setLit(bool lit) {
    if (lit != m_lit) {
        m_lit = lit;
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void Lamp::setToolTipSource(std::function<QString()> source) {
    m_toolTipSource = std::move(source);
}

void Lamp::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int diameter = std::min(width(), height()) - 1;
    const QRectF circle((width() - diameter) / 2.0, (height() - diameter) / 2.0, diameter,
                        diameter);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(m_color);
    painter.drawEllipse(circle);
}

bool Lamp::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && m_toolTipSource) {
        QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), m_toolTipSource(), this);
        return true;
    }
    return QWidget::event(event);
}

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/port_combo_box.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <QWheelEvent>

namespace ui {

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::activated, this, &PortComboBox::onActivated);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { m_typed = true; });
}

void PortComboBox::setFieldText(const QString& text) {
    const int index = findText(text, Qt::MatchExactly);
    if (index >= 0) {
        setCurrentIndex(index);
    }
    setEditText(text);
    m_typed = index < 0;
}

std::int16_t PortComboBox::selectedIndex() const {
    return m_typed ? std::int16_t{-1} : static_cast<std::int16_t>(currentIndex());
}

void PortComboBox::setItemDescriber(std::function<QString(std::int16_t)> describer) {
    m_describer = std::move(describer);
}

void PortComboBox::showPopup() {
    if (m_describer) {
        for (int i = 0; i < count(); ++i) {
            setItemData(i, m_describer(static_cast<std::int16_t>(i + 1)), Qt::ToolTipRole);
        }
    }
    QComboBox::showPopup();
}

void PortComboBox::hidePopup() {
    m_pickPending = true;
    QComboBox::hidePopup();
    QTimer::singleShot(0, this, [this] { m_pickPending = false; });
}

void PortComboBox::onActivated() {
    if (!m_pickPending) {
        return;
    }
    m_pickPending = false;
    m_typed = false;
    Q_EMIT picked();
}

void PortComboBox::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

void PortComboBox::keyPressEvent(QKeyEvent* event) {
    const bool stepsThroughItems =
        event->modifiers() == Qt::NoModifier &&
        (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down ||
         event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown);
    if (stepsThroughItems) {
        event->ignore();
        return;
    }
    QComboBox::keyPressEvent(event);
}

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The status lamp: a round light that shows its colour as a solid area. Its tooltip is worked
// out when asked for, so it always tells the current device and the last error. Whether it is
// lit is told to screen readers as its checked state; its name says what it stands for.

#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

namespace ui {

class Lamp : public QWidget {
    Q_OBJECT

public:
    explicit Lamp(QWidget* parent = nullptr);

    void setColor(const QColor& color);
    QColor color() const { return m_color; }
    void setLit(bool lit);
    bool isLit() const { return m_lit; }
    void setToolTipSource(std::function<QString()> source);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    QColor m_color = Qt::black;
    bool m_lit = false;
    std::function<QString()> m_toolTipSource;
};

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/board_panel.h"

#include <QGridLayout>
#include <QLabel>

#include "logic/toolkit.h"
#include "ui/lamp.h"

namespace sim {

namespace {

constexpr std::array<QStringView, 2> kChannelNames{u"第一路", u"第二路"};

QColor lampColor(bool on) {
    const logic::Rgb rgb = on ? logic::kLampOpen : logic::kLampClosed;
    return {rgb.red, rgb.green, rgb.blue};
}

}  // namespace

BoardPanel::BoardPanel(const RelayBoardSim& board, const QString& linePath, QWidget* parent)
    : QWidget(parent, Qt::Window), m_board(board), m_linePath(linePath) {
    setWindowTitle(QStringLiteral("模拟继电器板"));
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* layout = new QGridLayout(this);
    for (std::size_t i = 0; i < m_lamps.size(); ++i) {
        m_lamps[i] = new ui::Lamp(this);
        m_lamps[i]->setFixedSize(20, 20);
        m_lamps[i]->setAccessibleDescription(QStringLiteral("继电器指示灯，绿色表示吸合"));
        const int row = static_cast<int>(i);
        layout->addWidget(m_lamps[i], row, 0);
        layout->addWidget(new QLabel(kChannelNames[i].toString(), this), row, 1);
    }
    m_counts = new QLabel(this);
    m_line = new QLabel(this);
    m_line->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_counts, 2, 0, 1, 2);
    layout->addWidget(m_line, 3, 0, 1, 2);

    connect(&board, &RelayBoardSim::relaysChanged, this, &BoardPanel::refresh);
    connect(&board, &RelayBoardSim::frameAccepted, this, &BoardPanel::refresh);
    connect(&board, &RelayBoardSim::frameRejected, this, &BoardPanel::refresh);
    connect(&board, &RelayBoardSim::lineClosed, this, &BoardPanel::refresh);
    connect(&board, &RelayBoardSim::hungUp, this, &BoardPanel::refresh);
    refresh();
}

void BoardPanel::refresh() {
    const RelayBoard& board = m_board.board();
    for (std::size_t i = 0; i < m_lamps.size(); ++i) {
        const bool on = board.relayOn(static_cast<int>(i) + 1);
        m_lamps[i]->setColor(lampColor(on));
        m_lamps[i]->setLit(on);
        // A screen reader hears the relay's state in the lamp's name, which follows it.
        const QString name = kChannelNames[i].toString() +
                             (on ? QStringLiteral(" 继电器 吸合") : QStringLiteral(" 继电器 释放"));
        if (m_lamps[i]->accessibleName() != name) {
            m_lamps[i]->setAccessibleName(name);
        }
    }
    m_counts->setText(QStringLiteral("已接受的帧：%1\n已拒绝的帧：%2")
                          .arg(board.acceptedFrames())
                          .arg(board.rejectedFrames()));
    m_line->setText(m_board.isServing() ? QStringLiteral("线路：%1").arg(m_linePath)
                                        : QStringLiteral("线路：%1（已挂断）").arg(m_linePath));
}

QColor BoardPanel::relayLampColor(int channel) const {
    return m_lamps.at(static_cast<std::size_t>(channel - 1))->color();
}

QString BoardPanel::countsText() const {
    return m_counts->text();
}

QString BoardPanel::lineText() const {
    return m_line->text();
}

}  // namespace sim

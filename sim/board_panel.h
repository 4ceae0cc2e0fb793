// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The simulated board, seen from outside: a small window beside the main window, shown with
// --simulate, with a lamp for each relay (green while it is on; its name says so to screen
// readers) and counts of the frames the board accepted and rejected. It only watches the board;
// closing it does not end the program.

#include <QWidget>
#include <array>

#include "sim/relay_board_sim.h"

class QLabel;

namespace ui {
class Lamp;
}

namespace sim {

class BoardPanel : public QWidget {
    Q_OBJECT

public:
    BoardPanel(const RelayBoardSim& board, const QString& linePath, QWidget* parent = nullptr);

    // What the panel shows, for tests.
    QColor relayLampColor(int channel) const;
    QString countsText() const;
    QString lineText() const;

private:
    void refresh();

    const RelayBoardSim& m_board;
    std::array<ui::Lamp*, 2> m_lamps{};
    QLabel* m_counts = nullptr;
    QLabel* m_line = nullptr;
    QString m_linePath;
};

}  // namespace sim

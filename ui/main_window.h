// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The Qt window: builds the controls from the layout table, performs the toolkit operations on
// them for the window logic, and forwards every control event to its handler in frmmain. It
// holds no logic of its own.
//
// The work area and the received-bytes box are LogViews, which keep the cost of a receive
// event independent of how much they hold; the command boxes are plain line edits without a
// length limit, whose tooltips say what their current text will send.

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "logic/comm_device.h"
#include "logic/frmmain.h"
#include "logic/port_info.h"
#include "logic/toolkit.h"
#include "logic/traffic_record.h"
#include "ui/layout.h"

namespace ui {

class MainWindow : public QWidget, public logic::Toolkit {
    Q_OBJECT

public:
    // `info` feeds the tooltips of the port list and the lamp; `record` gets the traffic.
    explicit MainWindow(logic::CommDevice& MSComm1, logic::PortInfo info = {},
                        logic::TrafficRecord& record = logic::noTrafficRecord());

    // Runs start-up (Form_Load); call it once, before the window is first shown.
    void load();

    QWidget* widget(Control id) const { return m_widgets[static_cast<std::size_t>(id)]; }
    logic::frmmain& logic() { return m_logic; }

    QString text(Control box) override;
    void setText(Control box, const QString& text) override;
    void appendText(Control box, QStringView text) override;
    QString textStart(Control box, qsizetype count) override;
    QString textEnd(Control box, qsizetype count) override;
    void removeStart(Control box, qsizetype count) override;
    void removeEnd(Control box, qsizetype count) override;
    QString caption(Control button) override;
    void setCaption(Control button, const QString& caption) override;
    void setFillColor(Control shape, logic::Rgb color) override;
    void setComboText(Control combo, const QString& text) override;
    std::int16_t selectedIndex(Control combo) override;
    void messageBox(const QString& text) override;

    // The tooltip texts, as shown when the operator hovers over a list item or the lamp.
    QString portToolTip(std::int16_t port) const;
    QString lampToolTip() const;

protected:
    void showEvent(QShowEvent* event) override;
    // Shows the command boxes' tooltips, worked out from their text at that moment.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void connectEvents();
    void chainTabOrder();

    std::array<QWidget*, kControls.size()> m_widgets{};
    logic::PortInfo m_info;
    logic::frmmain m_logic;
    bool m_shownOnce = false;
};

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The port list. Its Click must run only when the operator chooses an item from the drop-down
// list, but QComboBox::activated also fires on Return after typing, when the focus leaves after
// typing, on arrow keys and on the wheel. A pick from the list always closes the popup first
// (hidePopup) and then activates the item, in the same call; so hidePopup marks the pick and
// activated consumes the mark. A mark left by a popup closed without a pick is cleared at the
// next turn of the event loop.
//
// Typing into the field leaves no item selected, whatever the text, until the next pick. The
// wheel and the arrow keys do not change the port behind the operator's back while the list is
// closed; Alt+Down or F4 opens it, and the arrow keys and Return pick from it.

#include <QComboBox>
#include <QString>
#include <cstdint>
#include <functional>

namespace ui {

class PortComboBox : public QComboBox {
    Q_OBJECT

public:
    explicit PortComboBox(QWidget* parent = nullptr);

    // Shows `text` in the field, selecting the item of that name if there is one. Runs no Click.
    void setFieldText(const QString& text);
    // The selected item's index, or -1 when none is selected (also after typing).
    std::int16_t selectedIndex() const;

    // Tells, for a port number (item index + 1), what the list item's tooltip says; asked each
    // time the list opens, so an adapter plugged in meanwhile shows up.
    void setItemDescriber(std::function<QString(std::int16_t)> describer);

    void hidePopup() override;
    void showPopup() override;

Q_SIGNALS:
    // An item was chosen from the drop-down list.
    void picked();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onActivated();

    bool m_pickPending = false;
    bool m_typed = false;
    std::function<QString(std::int16_t)> m_describer;
};

}  // namespace ui

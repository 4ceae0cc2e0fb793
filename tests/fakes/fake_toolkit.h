// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The controls in memory, for tests of the window logic: texts, captions, the lamp's colour and
// the port list's state, with every message box recorded and answered with OK at once.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>

#include "logic/toolkit.h"

namespace fakes {

class FakeToolkit final : public logic::Toolkit {
public:
    // Controls start with the window's design texts and captions (the work area with its
    // notice).
    FakeToolkit();

    QString text(logic::Control box) override;
    void setText(logic::Control box, const QString& text) override;
    void appendText(logic::Control box, QStringView text) override;
    QString textStart(logic::Control box, qsizetype count) override;
    QString textEnd(logic::Control box, qsizetype count) override;
    void removeStart(logic::Control box, qsizetype count) override;
    void removeEnd(logic::Control box, qsizetype count) override;
    QString caption(logic::Control button) override;
    void setCaption(logic::Control button, const QString& caption) override;
    void setFillColor(logic::Control shape, logic::Rgb color) override;
    void setComboText(logic::Control combo, const QString& text) override;
    std::int16_t selectedIndex(logic::Control combo) override;
    void messageBox(const QString& text) override;

    // The port button's caption and the lamp both show the port open, or both show it closed.
    bool showsOpen() const;
    bool showsClosed() const;

    std::map<logic::Control, QString> texts;
    std::map<logic::Control, QString> captions;
    std::map<logic::Control, logic::Rgb> fillColors;
    QString comboText = QStringLiteral("Combo1");
    std::int16_t comboIndex = -1;
    QStringList messages;
    // Number of edits per box through the end operations, to check that a log grows by one
    // edit at a time.
    std::map<logic::Control, int> endEdits;
    // Runs inside every message box, while it is "open".
    std::function<void(const QString&)> onMessageBox;

private:
    bool showsPort(const QString& caption, logic::Rgb lamp) const;
};

}  // namespace fakes

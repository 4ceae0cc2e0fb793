#pragma once

// The controls in memory, for tests of the window logic: texts, captions, the lamp's colour and
// the port list's state, with every message box recorded and answered with OK at once.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <map>

#include "ui/toolkit.h"

namespace fakes {

class FakeToolkit final : public ui::Toolkit {
public:
    // Controls start with the window's design texts and captions (the work area with its
    // notice).
    FakeToolkit();

    QString text(ui::Control box) override;
    void setText(ui::Control box, const QString& text) override;
    void appendText(ui::Control box, QStringView text) override;
    QString textStart(ui::Control box, qsizetype count) override;
    QString textEnd(ui::Control box, qsizetype count) override;
    void removeStart(ui::Control box, qsizetype count) override;
    void removeEnd(ui::Control box, qsizetype count) override;
    QString caption(ui::Control button) override;
    void setCaption(ui::Control button, const QString& caption) override;
    void setFillColor(ui::Control shape, ui::Rgb color) override;
    void setComboText(ui::Control combo, const QString& text) override;
    std::int16_t selectedIndex(ui::Control combo) override;
    void messageBox(const QString& text) override;

    // The port button's caption and the lamp both show the port open, or both show it closed.
    bool showsOpen() const;
    bool showsClosed() const;

    std::map<ui::Control, QString> texts;
    std::map<ui::Control, QString> captions;
    std::map<ui::Control, ui::Rgb> fillColors;
    QString comboText = QStringLiteral("Combo1");
    std::int16_t comboIndex = -1;
    QStringList messages;
    // Number of edits per box through the end operations, to check that a log grows by one
    // edit at a time.
    std::map<ui::Control, int> endEdits;
    // Runs inside every message box, while it is "open".
    std::function<void(const QString&)> onMessageBox;

private:
    bool showsPort(const QString& caption, ui::Rgb lamp) const;
};

}  // namespace fakes

// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes/fake_toolkit.h"

#include <algorithm>

#include "logic/port_manager.h"
#include "logic/qt_text.h"
#include "ui/layout.h"

namespace fakes {

using logic::Control;

FakeToolkit::FakeToolkit() {
    for (const ui::ControlDesign& design : ui::kControls) {
        const QString text = logic::toQString(design.text);
        if (design.kind == ui::Kind::Button) {
            captions[design.id] = text;
        } else if (design.kind == ui::Kind::TextBox || design.kind == ui::Kind::MultiLineTextBox) {
            texts[design.id] = text;
        }
    }
}

QString FakeToolkit::text(Control box) {
    return texts[box];
}

void FakeToolkit::setText(Control box, const QString& text) {
    texts[box] = text;
}

void FakeToolkit::appendText(Control box, QStringView text) {
    texts[box].append(text);
    ++endEdits[box];
}

QString FakeToolkit::textStart(Control box, qsizetype count) {
    return texts[box].left(count);
}

QString FakeToolkit::textEnd(Control box, qsizetype count) {
    return texts[box].right(count);
}

namespace {

// Widens a removal of `count` characters from one end so that it never splits a CR LF break.
qsizetype wholeBreaks(const QString& text, qsizetype count, bool fromStart) {
    count = std::min(count, text.size());
    const qsizetype boundary = fromStart ? count : text.size() - count;
    const bool splitsBreak = boundary > 0 && boundary < text.size() &&
                             text[boundary - 1] == u'\r' && text[boundary] == u'\n';
    return splitsBreak ? count + 1 : count;
}

}  // namespace

void FakeToolkit::removeStart(Control box, qsizetype count) {
    QString& text = texts[box];
    text.remove(0, wholeBreaks(text, count, true));
    ++endEdits[box];
}

void FakeToolkit::removeEnd(Control box, qsizetype count) {
    QString& text = texts[box];
    text.chop(wholeBreaks(text, count, false));
    ++endEdits[box];
}

QString FakeToolkit::caption(Control button) {
    return captions[button];
}

void FakeToolkit::setCaption(Control button, const QString& caption) {
    captions[button] = caption;
}

void FakeToolkit::setFillColor(Control shape, logic::Rgb color) {
    fillColors[shape] = color;
}

void FakeToolkit::setComboText(Control /*combo*/, const QString& text) {
    comboText = text;
}

std::int16_t FakeToolkit::selectedIndex(Control /*combo*/) {
    return comboIndex;
}

void FakeToolkit::messageBox(const QString& text) {
    messages.append(text);
    if (onMessageBox) {
        onMessageBox(text);
    }
}

// Whether the port button reads `caption` and the lamp shows `lamp`; a lamp never filled reads
// as the default colour, as the tests have always read it.
bool FakeToolkit::showsPort(const QString& caption, logic::Rgb lamp) const {
    const auto fill = fillColors.find(logic::Control::Shape1);
    const logic::Rgb shown = fill == fillColors.end() ? logic::Rgb{} : fill->second;
    return captions.at(logic::Control::Command1) == caption && shown == lamp;
}

bool FakeToolkit::showsOpen() const {
    return showsPort(logic::kOpenCaption, logic::kLampOpen);
}

bool FakeToolkit::showsClosed() const {
    return showsPort(logic::kClosedCaption, logic::kLampClosed);
}

}  // namespace fakes

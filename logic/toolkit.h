// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The operations the window logic performs on the controls, so that the logic can run against
// the Qt window or against an in-memory double in tests. Controls are named by a typed id; texts
// use CR LF line breaks, as the logic writes them.

#include <QString>
#include <QStringView>
#include <cstdint>
#include <stdexcept>

namespace logic {

enum class Control : std::uint8_t {
    Frame1,
    Label1,
    Combo1,
    Shape1,
    Command1,
    Frame13,
    Label2,
    Frame4,
    ch1,
    on1text,
    on1,
    off1text,
    off1,
    reverse1text,
    reverse1,
    Frame3,
    on2text,
    on2,
    off2text,
    off2,
    reverse2text,
    reverse2,
    Text4,
    Frame5,
    Text1,
    Frame2,
    Command4,
    Frame12,
    Command10,
    Command11,
};

// The text boxes that are reached as elements of a group rather than directly. Each group holds
// one element, index 0. (The channel buttons are groups too; their clicks carry the index.)
enum class ControlArray : std::uint8_t { off1text, off2text };

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb kLampOpen{0, 255, 0};
inline constexpr Rgb kLampClosed{0, 0, 0};

class Toolkit {
public:
    Toolkit() = default;
    Toolkit(const Toolkit&) = delete;
    Toolkit& operator=(const Toolkit&) = delete;
    virtual ~Toolkit() = default;

    // Text boxes. text() is the whole current content, the operator's edits included; setText()
    // replaces it.
    virtual QString text(Control box) = 0;
    virtual void setText(Control box, const QString& text) = 0;
    // Edits at the two ends of a text box. Their cost depends on `count` or on the length of
    // `text`, never on what the box already holds, so the two log boxes can grow without
    // bound. Positions count characters of text() (a CR LF break is two of them).
    //   appendText: the same as setText(box, text(box) + text).
    //   textStart, textEnd: the first or last `count` characters, or all when the text is
    //     shorter.
    //   removeStart, removeEnd: remove the first or last `count` characters (all when the text is
    //     shorter); a count that ends inside a CR LF break removes the whole break.
    virtual void appendText(Control box, QStringView text) = 0;
    virtual QString textStart(Control box, qsizetype count) = 0;
    virtual QString textEnd(Control box, qsizetype count) = 0;
    virtual void removeStart(Control box, qsizetype count) = 0;
    virtual void removeEnd(Control box, qsizetype count) = 0;

    // The element `index` of a control array. Every array has exactly one element, index 0;
    // any other index throws std::out_of_range.
    static Control element(ControlArray array, std::int16_t index) {
        if (index != 0) {
            throw std::out_of_range("control array element does not exist");
        }
        switch (array) {
            case ControlArray::off1text:
                return Control::off1text;
            case ControlArray::off2text:
                return Control::off2text;
        }
        throw std::out_of_range("unknown control array");
    }

    // Push buttons: the caption is the design caption until the first write.
    virtual QString caption(Control button) = 0;
    virtual void setCaption(Control button, const QString& caption) = 0;

    // Shapes: the interior shows the colour as a solid area.
    virtual void setFillColor(Control shape, Rgb color) = 0;

    // Combo boxes. Writing the text raises no Click; the selected index is 0 for the first list
    // item and -1 when none is selected.
    virtual void setComboText(Control combo, const QString& text) = 0;
    virtual std::int16_t selectedIndex(Control combo) = 0;

    // A modal message box with one OK button; returns once the operator has pressed OK.
    virtual void messageBox(const QString& text) = 0;
};

}  // namespace logic

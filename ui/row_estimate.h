// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the rows of a wrapped paragraph start, estimated from the advances of its characters
// alone, without laying it out: laying out every appended character would cost LogView more than
// everything else an append does. Free of widgets and fonts: the caller says how wide each
// character is and how wide a row is.

#include <QHash>
#include <QList>
#include <QStringView>
#include <QtGlobal>
#include <array>
#include <functional>

namespace ui {

class RowEstimate {
public:
    // The advance of one character (a code point), in the unit of the row width.
    using Measure = std::function<qreal(char32_t)>;

    explicit RowEstimate(Measure measure);

    // Where rows start in `text` (offsets after 0, in UTF-16 code units) laid out from its start
    // in rows of `rowWidth`, as Qt's greedy wrap places them: rows break after spaces, around wide
    // characters and after U+2028 LINE SEPARATOR; a word wider than a row breaks where it
    // overflows; spaces at the end of a row hang past it. Qt's shaping (kerning, bearings) and the
    // finer rules of line breaking are left out, so the result is an estimate; for the received
    // bytes, ASCII digits and spaces, it is exact in the fonts tried.
    QList<int> rowStarts(QStringView text, qreal rowWidth);

    // Forgets the advances measured so far: the font changed.
    void forgetAdvances();

    // Characters between which a line may break although no space stands there: ideographs and
    // the other wide characters of East Asian text.
    static bool isWide(char32_t c);
    // Punctuation no line may start with.
    static bool closesLine(char32_t c);

private:
    qreal advance(char32_t c);

    Measure m_measure;
    // Each character is measured once; -1 is not yet measured.
    std::array<qreal, 128> m_asciiAdvances{};
    QHash<char32_t, qreal> m_advances;
};

}  // namespace ui

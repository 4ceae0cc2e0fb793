// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/row_estimate.h"

#include <QChar>
#include <string_view>
#include <utility>

namespace ui {

RowEstimate::RowEstimate(Measure measure) : m_measure(std::move(measure)) {
    forgetAdvances();
}

void RowEstimate::forgetAdvances() {
    m_asciiAdvances.fill(-1);
    m_advances.clear();
}

bool RowEstimate::isWide(char32_t c) {
    return (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF01 && c <= 0xFF60) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

bool RowEstimate::closesLine(char32_t c) {
    return std::u32string_view(
               U":;,.!?)]}\u3001\u3002\uFF01\uFF09\uFF0C\uFF0E\uFF1A\uFF1B\uFF1F"
               U"\u300D\u300F\u3011")
               .find(c) != std::u32string_view::npos;
}

QList<int> RowEstimate::rowStarts(QStringView text, qreal rowWidth) {
    QList<int> starts;
    // The row from rowStart: `placed` is the width up to the end of its last whole word, `gap`
    // the spaces behind it, `word` the word begun at wordStart.
    qreal placed = 0;
    qreal gap = 0;
    qreal word = 0;
    int rowStart = 0;
    int wordStart = 0;
    char32_t previous = 0;
    const auto size = static_cast<int>(text.size());
    for (int i = 0; i < size; ++i) {
        char32_t c = text[i].unicode();
        const int at = i;
        if (text[i].isHighSurrogate() && i + 1 < size && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (c == QChar::LineSeparator) {
            starts.append(i + 1);
            placed = gap = word = 0;
            rowStart = wordStart = i + 1;
            previous = 0;
            continue;
        }
        const qreal width = advance(c);
        if (c == u' ') {
            // A space after a word closes it; a space after a space joins the gap.
            if (word > 0) {
                placed += gap + word;
                gap = 0;
                word = 0;
            }
            gap += width;
            wordStart = i + 1;
            previous = c;
            continue;
        }
        const bool breaksBefore = word > 0 && (isWide(c) || isWide(previous)) && !closesLine(c);
        if (breaksBefore) {
            placed += gap + word;
            gap = word = 0;
            wordStart = at;
        }
        if (word == 0) {
            wordStart = at;
        }
        if (wordStart > rowStart && placed + gap + word + width > rowWidth) {
            starts.append(wordStart);
            rowStart = wordStart;
            placed = gap = 0;
        }
        if (wordStart == rowStart && word > 0 && word + width > rowWidth) {
            starts.append(at);
            rowStart = wordStart = at;
            word = 0;
        }
        word += width;
        previous = c;
    }
    return starts;
}

qreal RowEstimate::advance(char32_t c) {
    if (c < m_asciiAdvances.size()) {
        qreal& known = m_asciiAdvances[c];
        if (known < 0) {
            known = m_measure(c);
        }
        return known;
    }
    const auto known = m_advances.constFind(c);
    if (known != m_advances.cend()) {
        return *known;
    }
    const qreal width = m_measure(c);
    m_advances.insert(c, width);
    return width;
}

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/row_aligner.h"

#include <QFontMetricsF>
#include <QPlainTextDocumentLayout>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <utility>

namespace ui {

namespace {

constexpr int kMaxDebts = 8;
// Rows at least this wide are not wrapped: the layout has no width yet.
constexpr qreal kUnwrapped = 1e7;
// The received-bytes box's last block is cut only once it holds this many characters.
constexpr int kShortBlock = 64;

// A cut position for a block that has no row start before `offset` (it is not wrapped, or one
// row holds the whole block): behind the last space before it, else just before it. 0 when the
// block cannot be cut there.
int fallbackCut(QStringView text, int offset) {
    const qsizetype space = text.first(std::max(offset - 1, 0)).lastIndexOf(u' ');
    const qsizetype cut = space >= 0 ? space + 1 : offset - 1;
    return cut > 0 && text[cut - 1].isHighSurrogate() && text[cut].isLowSurrogate()
               ? static_cast<int>(cut - 1)
               : static_cast<int>(cut);
}

// `count`, one more when it would end between the two halves of a surrogate pair.
qsizetype wholePairs(QStringView text, qsizetype count) {
    const bool splitsPair = count > 0 && count < text.size() && text[count - 1].isHighSurrogate() &&
                            text[count].isLowSurrogate();
    return splitsPair ? count + 1 : count;
}

}  // namespace

RowAligner::RowAligner(LogDocument& stored, QTextDocument* document, const QPaintDevice* device,
                       bool wrapping, std::function<void(int)> noteLayout)
    : m_stored(stored),
      m_document(document),
      m_device(device),
      m_wrapping(wrapping),
      m_noteLayout(std::move(noteLayout)),
      m_rowEstimate([this](char32_t c) {
          const QFontMetricsF metrics(m_document->defaultFont(), m_device);
          return c < 0x80 ? metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)))
                          : metrics.horizontalAdvance(QString::fromUcs4(&c, 1));
      }) {}

// The block laid out anew: inside an edit block the document layout has not yet heard of the
// changes, so a layout it holds may be one of older text.
QTextLayout* RowAligner::laidOut(QTextBlock block) {
    block.clearLayout();
    qobject_cast<QPlainTextDocumentLayout*>(m_document->documentLayout())->ensureBlockLayout(block);
    m_noteLayout(block.blockNumber());
    return block.layout();
}

bool RowAligner::wraps() const {
    return m_wrapping && m_rowWidth < kUnwrapped;
}

// The width QPlainTextDocumentLayout gives every row, read from a row it laid out: it gives all
// rows the viewport's width less the document margins, or no limit before it knows that width.
bool RowAligner::measureRowWidth() {
    const qreal before = m_rowWidth;
    m_rowWidth = laidOut(m_document->begin())->lineAt(0).width();
    m_rowEstimate.forgetAdvances();
    return m_rowWidth != before;
}

// Whether `text`, laid out as the document lays out a block, starts its second row at `position`.
bool RowAligner::rowBreaksAt(const QString& text, qsizetype position) const {
    QTextLayout layout(text, m_document->defaultFont(), m_device);
    layout.setTextOption(m_document->defaultTextOption());
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(m_rowWidth);
    const QTextLine second = layout.createLine();
    const bool breaks = second.isValid() && second.textStart() == position;
    layout.endLayout();
    return breaks;
}

// Inserts stored text at `cursor` in pieces; whenever the cursor's block outgrows
// LogDocument::kBlockTarget, cuts it at the start of the last row that begins before the cursor. At
// the end of the text that leaves the growing block one row long.
void RowAligner::insertBounded(QTextCursor& cursor, QStringView text) {
    while (!text.isEmpty()) {
        const int room = LogDocument::kBlockTarget - (cursor.block().length() - 1);
        const qsizetype take = wholePairs(
            text, std::min<qsizetype>(text.size(), std::max(room, LogDocument::kBlockTarget / 4)));
        cursor.insertText(text.first(take).toString(), QTextCharFormat());
        text = text.sliced(take);
        if (cursor.block().length() - 1 >= LogDocument::kBlockTarget) {
            cutBefore(cursor);
        }
    }
}

// Cuts where the last row that begins before the cursor was estimated to begin, without laying
// the block out: appends that scroll out of view unseen never need a layout. The break is marked
// as estimated, and checkShown() lays the blocks in view out and moves any break that stands
// elsewhere than at the start of a row before it is painted.
void RowAligner::cutBefore(const QTextCursor& cursor) {
    if (wraps() && cutAtEstimatedRow(cursor)) {
        return;
    }
    const QTextBlock block = cursor.block();
    const int cut = fallbackCut(block.text(), cursor.positionInBlock());
    if (cut > 0) {
        m_stored.cutAt(block.position() + cut);
    }
}

// Cuts the cursor's block where the last row that begins before the cursor is estimated to
// begin, and gives both parts their estimated row counts; false when the block is one row up to
// the cursor.
bool RowAligner::cutAtEstimatedRow(const QTextCursor& cursor) {
    const QTextBlock block = cursor.block();
    const QList<int> starts = m_rowEstimate.rowStarts(block.text(), m_rowWidth);
    const auto after = std::upper_bound(starts.begin(), starts.end(), cursor.positionInBlock());
    if (after == starts.begin()) {
        return false;
    }
    const auto rowsBefore = static_cast<int>(after - starts.begin());
    const int second = m_stored.cutAt(block.position() + *(after - 1));
    m_document->findBlock(second - 1).setLineCount(rowsBefore);
    QTextBlock next = m_document->findBlock(second);
    next.setLineCount(static_cast<int>(starts.size()) + 1 - rowsBefore);
    if (LogDocument::isContinuation(next)) {
        LogDocument::setEstimated(next, true);
    }
    return true;
}

// The received-bytes box shows one row without wrapping, the end of its text: the last block
// keeps two to three rows' width of characters, enough to fill the row, and the text before it
// stands in blocks out of view. So an append lays out and paints a few dozen characters, however
// long the text. (Where rows start is only the measure of a row's width here: nothing wraps.)
void RowAligner::keepLastBlockShort() {
    const QTextBlock block = m_document->lastBlock();
    if (m_rowWidth >= kUnwrapped || block.length() - 1 < kShortBlock) {
        return;
    }
    const QList<int> starts = m_rowEstimate.rowStarts(block.text(), m_rowWidth);
    if (starts.size() < 3) {
        return;
    }
    const int second = m_stored.cutAt(block.position() + starts[starts.size() - 3]);
    m_document->findBlock(second - 1).setLineCount(1);
    m_document->findBlock(second).setLineCount(1);
}

// Cuts `block` where row `line` of its current `layout` starts, gives both parts their line counts
// and returns where the second part starts. (The document layout hears of the cut only when the
// edit ends, and lays out again only what it shows, while the scroll bar counts rows.)
int RowAligner::cutAtRow(const QTextBlock& block, const QTextLayout& layout, int line) {
    const int lines = layout.lineCount();
    const int second = m_stored.cutAt(block.position() + layout.lineAt(line).textStart());
    m_document->findBlock(second - 1).setLineCount(line);
    m_document->findBlock(second).setLineCount(lines - line);
    return second;
}

// Repairs the breaks from `block` on, whose start must start a row: every display-only break
// stands between two non-empty blocks, next to no stored break, at the start of a row, and
// blocks stay within LogDocument::kBlockLimit. Examines every break up to position `until`; past
// it, stops at the first break that needed nothing. Returns the block to resume at once `budget`
// characters are laid out, else an invalid block.
QTextBlock RowAligner::repairFrom(QTextBlock block, int until, qsizetype& budget) {
    const bool wrapping = wraps();
    // Whether `block` holds a layout of its current text: `next` became `block` unchanged.
    bool fresh = false;
    while (block.isValid()) {
        const int at = block.position();
        if (wrapping && block.length() - 1 > LogDocument::kBlockLimit && cutNearTarget(block)) {
            block = m_document->findBlock(at);
            fresh = false;
            continue;
        }
        const QTextBlock next = block.next();
        if (!next.isValid()) {
            return {};
        }
        if (LogDocument::isContinuation(next) && repairJoin(block, next)) {
            block = m_document->findBlock(at);
            fresh = false;
            continue;
        }
        if (!LogDocument::isContinuation(next) || !wrapping) {
            if (next.position() > until) {
                return {};
            }
            block = next;
            fresh = false;
            continue;
        }
        if (budget <= 0) {
            return block;
        }
        budget -= block.length() + next.length();
        const QTextLayout* layout = fresh ? block.layout() : laidOut(block);
        const int lastRow = layout->lineAt(layout->lineCount() - 1).textStart();
        if (startsRow(block, lastRow, next, *laidOut(next))) {
            LogDocument::setEstimated(next, false);
            if (next.position() > until) {
                return {};
            }
            block = next;
            fresh = true;
            continue;
        }
        // The break stands inside what would be a row: move it back to the start of that row.
        // The rows in front of it stay as they are; a block of one row joins the next one.
        m_stored.removeSeparator(next.position() - 1);
        block = m_document->findBlock(
            lastRow > 0 ? cutAtRow(m_document->findBlock(at), *layout, layout->lineCount() - 1)
                        : at);
        fresh = false;
    }
    return {};
}

// The structural part of a repair: a display-only break next to an empty block goes, and one
// next to a stored break merges with it into a CR LF break between blocks.
bool RowAligner::repairJoin(const QTextBlock& block, const QTextBlock& next) {
    const int at = next.position();
    if (block.length() == 1 || next.length() == 1) {
        m_stored.removeSeparator(at - 1);
        return true;
    }
    if (m_document->characterAt(at - 2) == LogDocument::kStoredBreak) {
        m_stored.replaceWithBreak(at - 2, 2);
        return true;
    }
    if (m_document->characterAt(at) == LogDocument::kStoredBreak) {
        m_stored.replaceWithBreak(at - 1, 2);
        return true;
    }
    return false;
}

bool RowAligner::cutNearTarget(const QTextBlock& block) {
    const QTextLayout* layout = laidOut(block);
    int best = 0;
    const auto distance = [layout](int line) {
        return std::abs(layout->lineAt(line).textStart() - LogDocument::kBlockTarget);
    };
    for (int line = 1; line < layout->lineCount(); ++line) {
        if (best == 0 || distance(line) < distance(best)) {
            best = line;
        }
    }
    if (best == 0 || layout->lineAt(best).textStart() >= block.length() - 1) {
        return false;
    }
    cutAtRow(block, *layout, best);
    return true;
}

// Whether the break in front of `next` starts a row: whether the last row of `block`, followed
// by the first row of `next`, wraps exactly there.
bool RowAligner::startsRow(const QTextBlock& block, int lastRow, const QTextBlock& next,
                           const QTextLayout& nextLayout) const {
    QString rows = block.text().mid(lastRow);
    const qsizetype tail = rows.size();
    const int head =
        nextLayout.lineCount() > 1 ? nextLayout.lineAt(1).textStart() : next.length() - 1;
    rows += QStringView(next.text()).first(head);
    return rowBreaksAt(rows, tail);
}

void RowAligner::repairRange(int from, int to, qsizetype budget) {
    QTextBlock start = m_document->findBlock(from);
    if (start.previous().isValid()) {
        start = start.previous();
    }
    repair(start, to, budget);
}

void RowAligner::repair(const QTextBlock& from, int until, qsizetype budget) {
    addDebt(repairFrom(from, until, budget));
}

// Where a repair stopped, to resume at the next appends; the oldest debts are forgotten.
void RowAligner::addDebt(const QTextBlock& resume) {
    if (resume.isValid()) {
        m_debts.append(QTextCursor(resume));
        if (m_debts.size() > kMaxDebts) {
            m_debts.removeFirst();
        }
    }
}

void RowAligner::payDebts(qsizetype budget) {
    while (budget > 0 && !m_debts.isEmpty()) {
        QTextCursor debt = m_debts.takeFirst();
        const QTextBlock resume = repairFrom(debt.block(), debt.position(), budget);
        if (resume.isValid()) {
            debt.setPosition(resume.position());
            m_debts.prepend(debt);
        }
    }
}

void RowAligner::repairStart() {
    qsizetype budget = kEditBudget;
    const QTextBlock resume = repairFrom(m_document->begin(), 0, budget);
    if (resume.isValid()) {
        m_debts.prepend(QTextCursor(resume));
    }
    laidOut(m_document->begin());
}

void RowAligner::realignAll() {
    m_debts.clear();
    m_stored.editQuietly([&] {
        qsizetype budget = std::numeric_limits<qsizetype>::max();
        repairFrom(m_document->begin(), m_document->characterCount(), budget);
        // Every block counts its rows again, so that the scroll bar counts rows, not blocks.
        for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
            laidOut(block);
        }
    });
}

}  // namespace ui

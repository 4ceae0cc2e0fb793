// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/log_view.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextDocument>
#include <QTextLayout>
#include <QtMath>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <optional>
#include <utility>

#include "ui/frame_clock.h"

namespace ui {

namespace {

// A CR LF break of the text, stored inside a block.
constexpr QChar kStoredBreak = QChar::LineSeparator;
constexpr QStringView kCrLf = u"\r\n";
// The character format property that makes a block separator a display-only break.
constexpr int kContinuationMark = QTextFormat::UserProperty + 1;
// Appends fill blocks to about this many characters, then cut them at the start of a row.
constexpr int kBlockTarget = 1024;
// Edits may grow a block to this size before it is cut.
constexpr int kBlockLimit = 4 * kBlockTarget;
// Characters laid out to re-align the breaks behind one edit, and during one flush of appends.
constexpr qsizetype kEditBudget = qsizetype{256} * 1024;
constexpr qsizetype kFlushBudget = qsizetype{4} * kBlockTarget;
// The last blocks keep their layouts: the next append lays them out again anyway.
constexpr int kKeepLaidOut = 2;
constexpr int kMaxDebts = 8;
// Appended text reaches the document at once when this much of it waits; pending text buffers
// up to kKeptPending are kept between frames.
constexpr qsizetype kFlushAtOnce = qsizetype{64} * 1024;
constexpr qsizetype kKeptPending = qsizetype{1} << 20;
// The end reads read pieces up to this size character by character.
constexpr qsizetype kShortPiece = 64;
// The space between the frame of the received-bytes box and its text, left and right.
constexpr int kOneLinePadding = 4;
// Rows at least this wide are not wrapped: the layout has no width yet.
constexpr qreal kUnwrapped = 1e7;
// The user state of a block whose display-only break in front of it stands where rows were
// estimated to start, not yet checked against a layout (QTextBlock's default state is -1).
constexpr int kEstimatedBreak = 1;

QTextCharFormat separatorFormat(bool continuation) {
    QTextCharFormat format;
    if (continuation) {
        format.setProperty(kContinuationMark, true);
    }
    return format;
}

// Whether the separator before `block` is a display-only break. The first block has none: its
// character format is the document's initial one.
bool isContinuation(const QTextBlock& block) {
    return block.isValid() && block.charFormat().boolProperty(kContinuationMark);
}

bool isEstimated(const QTextBlock& block) {
    return block.userState() == kEstimatedBreak;
}

// Appends `text` with each line break (CR LF, CR, LF, U+2028, U+2029) as `lineBreak`, and the
// two characters Qt's text document keeps for its frames (U+FDD0, U+FDD1) as U+FFFD.
void appendWithLineBreaks(QString& out, QStringView text, QStringView lineBreak) {
    qsizetype copied = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool isBreak = c == u'\r' || c == u'\n' || c == u'\u2028' || c == u'\u2029';
        const bool isReserved = c == u'\uFDD0' || c == u'\uFDD1';
        if (!isBreak && !isReserved) {
            continue;
        }
        out += text.sliced(copied, i - copied);
        if (isReserved) {
            out += QChar::ReplacementCharacter;
        } else {
            out += lineBreak;
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
        }
        copied = i + 1;
    }
    out += text.sliced(copied);
}

QString withLineBreaks(QStringView text, QStringView lineBreak) {
    QString result;
    result.reserve(text.size());
    appendWithLineBreaks(result, text, lineBreak);
    return result;
}

// Appends stored block text as the caller sees it: stored breaks as CR LF.
void appendTrueText(QString& out, QStringView stored) {
    qsizetype copied = 0;
    for (qsizetype at = stored.indexOf(kStoredBreak); at >= 0;
         at = stored.indexOf(kStoredBreak, copied)) {
        out += stored.sliced(copied, at - copied);
        out += kCrLf;
        copied = at + 1;
    }
    out += stored.sliced(copied);
}

// Appends the text of `block` as the caller sees it, with the line break in front of it (none
// in front of the first block, nothing for a display-only break).
void appendBlock(QString& out, const QTextBlock& block) {
    if (block.position() > 0 && !isContinuation(block)) {
        out += kCrLf;
    }
    appendTrueText(out, block.text());
}

// Up to `limit` characters of the start or the end of `block` as the caller sees them, the line
// break in front of the block included when the piece reaches back to it. Short pieces are read
// character by character, so that reading a few characters does not copy the block.
QString blockPiece(const QTextBlock& block, qsizetype limit, bool fromStart) {
    const int length = block.length() - 1;
    QString piece;
    if (limit >= length || limit > kShortPiece) {
        appendBlock(piece, block);
        return fromStart ? piece.left(limit) : piece.right(limit);
    }
    if (fromStart && block.position() > 0 && !isContinuation(block)) {
        piece += kCrLf;
    }
    const QTextDocument* document = block.document();
    const int first = block.position() + (fromStart ? 0 : length - static_cast<int>(limit));
    for (int at = first; at < first + limit; ++at) {
        const QChar c = document->characterAt(at);
        if (c == kStoredBreak) {
            piece += kCrLf;
        } else {
            piece += c;
        }
    }
    return fromStart ? piece.left(limit) : piece.right(limit);
}

// `count`, one more when it would end between the two halves of a surrogate pair.
qsizetype wholePairs(QStringView text, qsizetype count) {
    const bool splitsPair = count > 0 && count < text.size() && text[count - 1].isHighSurrogate() &&
                            text[count].isLowSurrogate();
    return splitsPair ? count + 1 : count;
}

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

bool matchesAny(const QKeyEvent* event, std::initializer_list<QKeySequence::StandardKey> keys) {
    return std::any_of(keys.begin(), keys.end(),
                       [event](QKeySequence::StandardKey key) { return event->matches(key); });
}

bool isLineBreakKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
           matchesAny(event,
                      {QKeySequence::InsertParagraphSeparator, QKeySequence::InsertLineSeparator});
}

// Runs `change` as one edit of the document whose layout hears of it once, at its end: blocks
// laid out on the way notify nobody.
template <typename Change>
void editQuietly(QTextDocument* document, Change change) {
    QTextCursor group(document);
    group.beginEditBlock();
    {
        const QSignalBlocker quiet(document->documentLayout());
        change();
    }
    group.endEditBlock();
}

}  // namespace

// Marks the document changes in its scope as the program's own: they clear the undo history and
// keep out of it, and no repair of operator edits runs for them.
class LogView::ProgrammaticChange {
public:
    explicit ProgrammaticChange(LogView& view) : m_view(view) {
        if (m_view.m_programmatic++ == 0) {
            m_view.document()->setUndoRedoEnabled(false);
        }
    }
    ProgrammaticChange(const ProgrammaticChange&) = delete;
    ProgrammaticChange& operator=(const ProgrammaticChange&) = delete;
    ~ProgrammaticChange() {
        if (--m_view.m_programmatic == 0) {
            m_view.document()->setUndoRedoEnabled(true);
        }
    }

private:
    LogView& m_view;
};

LogView::LogView(Mode mode, QWidget* parent)
    : QPlainTextEdit(parent), m_mode(mode), m_rowEstimate([this](char32_t c) {
          const QFontMetricsF metrics(document()->defaultFont(), viewport());
          return c < 0x80 ? metrics.horizontalAdvance(QChar(static_cast<char16_t>(c)))
                          : metrics.horizontalAdvance(QString::fromUcs4(&c, 1));
      }) {
    setTabChangesFocus(true);
    setLineWrapMode(m_mode == Mode::OneLine ? NoWrap : WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (m_mode == Mode::OneLine) {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setInputMethodHints(inputMethodHints() & ~Qt::ImhMultiLine);
        // One row, centred in the box by the viewport's margins (fitOneRow), on the box's base
        // colour as a one-line box: the text's margin is the viewport's, so the row stands at
        // the same height whichever block is in view.
        document()->setDocumentMargin(0);
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Base);
    } else {
        // Always there, so the rows never change width when the text outgrows the box.
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // The scroll bar changes with every new row. Left transparent, each of its repaints
        // repaints whatever lies behind it, the surrounding group box with its frame and title;
        // filled with the same window colour it looks the same and repaints alone.
        verticalScrollBar()->setAutoFillBackground(true);
    }
    measureRowWidth();
    connect(document(), &QTextDocument::contentsChange, this, &LogView::noteEdit);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (m_programmatic == 0 && !m_relayout) {
            m_followEnd = value >= verticalScrollBar()->maximum();
        }
        // The view moved: the blocks it shows now are checked before they are painted.
        if (m_programmatic == 0) {
            checkShown();
        }
    });
}

// --- The text ------------------------------------------------------------------------------

QString LogView::text() const {
    QString result;
    result.reserve(document()->characterCount() + pending().size());
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        appendBlock(result, block);
    }
    result += pending();
    return result;
}

void LogView::setText(const QString& text) {
    clearPending();
    {
        const ProgrammaticChange change(*this);
        clear();
        m_debts.clear();
        m_laidOut.clear();
        QTextCursor cursor(document());
        editQuietly(document(), [&] {
            insertBounded(cursor, withLineBreaks(text, {&kStoredBreak, 1}));
            if (m_mode == Mode::OneLine) {
                keepLastBlockShort();
            }
        });
        setTextCursor(QTextCursor(document()));
        m_followEnd = true;
        if (m_mode == Mode::OneLine) {
            scrollToEnd();
        }
        checkShown();
        retireLayouts();
    }
}

void LogView::appendText(QStringView text) {
    if (text.isEmpty()) {
        return;
    }
    appendWithLineBreaks(m_pending, text, kCrLf);
    scheduleFlush();
}

QString LogView::textStart(qsizetype count) const {
    QString result;
    for (QTextBlock block = document()->begin(); block.isValid() && result.size() < count;
         block = block.next()) {
        result += blockPiece(block, count - result.size(), true);
    }
    if (result.size() < count) {
        result += pending().first(std::min(pending().size(), count - result.size()));
    }
    return result;
}

QString LogView::textEnd(qsizetype count) const {
    if (count <= 0) {
        return {};
    }
    if (pending().size() >= count) {
        return pending().last(count).toString();
    }
    // Pieces from the end, each block's with the break in front of it once it is whole.
    QList<QString> pieces;
    qsizetype gathered = pending().size();
    for (QTextBlock block = document()->lastBlock(); block.isValid() && gathered < count;
         block = block.previous()) {
        pieces.append(blockPiece(block, count - gathered, false));
        gathered += pieces.last().size();
    }
    QString result;
    result.reserve(gathered);
    for (auto piece = pieces.crbegin(); piece != pieces.crend(); ++piece) {
        result += *piece;
    }
    result += pending();
    return result.right(count);
}

void LogView::removeStart(qsizetype count) {
    if (count <= 0) {
        return;
    }
    const ProgrammaticChange change(*this);
    // Walk from the start: `remaining` characters of the text are still to go, `cut` is the
    // document position up to which they are gone.
    qsizetype remaining = count;
    int cut = 0;
    for (QTextBlock block = document()->begin(); block.isValid();) {
        const QString stored = block.text();
        qsizetype i = 0;
        while (i < stored.size() && remaining > 0) {
            remaining -= stored[i] == kStoredBreak ? 2 : 1;
            ++i;
        }
        cut = block.position() + static_cast<int>(i);
        const QTextBlock next = block.next();
        if (i < stored.size() || !next.isValid()) {
            break;
        }
        if (!isContinuation(next)) {
            if (remaining <= 0) {
                break;  // the count ends right before a CR LF break, which stays
            }
            remaining -= 2;
            if (remaining <= 0) {
                cut = next.position();  // the count ends at or inside the break
                break;
            }
        }
        // A display-only break goes with the text in front of it.
        block = next;
    }
    if (cut > 0) {
        QTextCursor cursor(document());
        editQuietly(document(), [&] {
            cursor.setPosition(cut, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            // The first line now starts elsewhere, so its rows do too.
            qsizetype budget = kEditBudget;
            const QTextBlock resume = repairFrom(document()->begin(), 0, budget);
            if (resume.isValid()) {
                m_debts.prepend(QTextCursor(resume));
            }
            laidOut(document()->begin());
        });
    }
    if (remaining > 0) {
        dropPendingStart(std::min(remaining, pending().size()));
    }
    checkShown();
    retireLayouts();
}

void LogView::removeEnd(qsizetype count) {
    if (count <= 0) {
        return;
    }
    if (!pending().isEmpty()) {
        if (count < pending().size()) {
            dropPendingEnd(count);
            return;
        }
        count -= pending().size();
        clearPending();
        if (count == 0) {
            return;
        }
    }
    const ProgrammaticChange change(*this);
    const int end = document()->characterCount() - 1;
    qsizetype remaining = count;
    int cut = end;
    for (QTextBlock block = document()->lastBlock(); block.isValid();) {
        const QString stored = block.text();
        qsizetype i = stored.size();
        while (i > 0 && remaining > 0) {
            remaining -= stored[i - 1] == kStoredBreak ? 2 : 1;
            --i;
        }
        cut = block.position() + static_cast<int>(i);
        const QTextBlock previous = block.previous();
        if (i > 0 || !previous.isValid()) {
            break;
        }
        if (remaining <= 0 && !isContinuation(block)) {
            break;  // the text now ends with the CR LF break in front of this block
        }
        // The block is empty now: its separator goes too, and with a real break the count
        // takes its two characters (or ends inside them).
        cut = block.position() - 1;
        if (!isContinuation(block)) {
            remaining -= 2;
        }
        if (remaining <= 0) {
            break;
        }
        block = previous;
    }
    if (cut < end) {
        QTextCursor cursor(document());
        editQuietly(document(), [&] {
            cursor.setPosition(cut);
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        });
    }
    checkShown();
    retireLayouts();
}

// --- Appended text ---------------------------------------------------------------------------

QStringView LogView::pending() const {
    return QStringView(m_pending).sliced(m_pendingStart);
}

void LogView::dropPendingStart(qsizetype count) {
    qsizetype start = m_pendingStart + count;
    if (start > m_pendingStart && start < m_pending.size() && m_pending[start - 1] == u'\r' &&
        m_pending[start] == u'\n') {
        ++start;
    }
    if (start >= m_pending.size()) {
        clearPending();
        return;
    }
    m_pendingStart = start;
    // Removing from the front moves the rest only once it is the smaller part.
    if (m_pendingStart > m_pending.size() / 2) {
        m_pending.remove(0, m_pendingStart);
        m_pendingStart = 0;
    }
}

void LogView::dropPendingEnd(qsizetype count) {
    qsizetype end = m_pending.size() - count;
    if (end > m_pendingStart && m_pending[end - 1] == u'\r' && m_pending[end] == u'\n') {
        --end;
    }
    m_pending.truncate(end);
    if (end <= m_pendingStart) {
        clearPending();
    }
}

// Keeps the buffer for the next appends unless it grew large while the box was hidden: freeing
// large buffers makes the C library keep more of the heap later (it raises its threshold for
// mapping allocations), so the buffer is not given back after every frame.
void LogView::clearPending() {
    if (m_pending.capacity() > kKeptPending) {
        m_pending = QString();
    } else {
        m_pending.truncate(0);
    }
    m_pendingStart = 0;
    FrameClock::instance().cancel(this);
}

// The pending text in the stored form, converted where it stands (it only gets shorter): a CR LF
// break becomes one stored break. Pending text holds CR only as part of CR LF.
QStringView LogView::pendingAsStored() {
    QChar* const chars = m_pending.data();
    qsizetype length = 0;
    for (qsizetype i = m_pendingStart; i < m_pending.size(); ++i) {
        if (chars[i] == u'\r') {
            chars[length++] = kStoredBreak;
            ++i;
        } else {
            chars[length++] = chars[i];
        }
    }
    m_pendingStart = 0;
    m_pending.truncate(length);
    return m_pending;
}

// At the end of the frame after the last flush, or at once when a flood has piled up much text.
void LogView::scheduleFlush() {
    if (!isVisible() || pending().isEmpty()) {
        return;
    }
    FrameClock::instance().schedule(
        this,
        [this] {
            const qsizetype size = pending().size();
            flushPending();
            return size;
        },
        pending().size() > kFlushAtOnce);
}

void LogView::flushPending() {
    FrameClock::instance().cancel(this);
    if (pending().isEmpty()) {
        return;
    }
    const bool follow = followsEnd();
    {
        const ProgrammaticChange change(*this);
        const QStringView text = pendingAsStored();
        for (int number = std::max(blockCount() - kKeepLaidOut, 0); number < blockCount();
             ++number) {
            m_laidOut.append(number);
        }
        QTextCursor cursor(document());
        editQuietly(document(), [&] {
            // Inside the edit, where a cursor that moves does not work out its x coordinate: out
            // of it, that would shape the last block.
            cursor.movePosition(QTextCursor::End);
            insertBounded(cursor, text);
            // The growing last block stays one row long, so that the next small append lays
            // out and repaints that row, not the kBlockTarget characters a block may reach.
            if (wraps()) {
                cutAtEstimatedRow(cursor);
            } else if (m_mode == Mode::OneLine) {
                keepLastBlockShort();
            }
            payDebts(kFlushBudget);
        });
        clearPending();
        if (follow) {
            scrollToEnd();
        }
        checkShown();
        retireLayouts();
        joinRowsOutOfView();
    }
}

// --- The stored form ---------------------------------------------------------------------------

// The block laid out anew: inside an edit block the document layout has not yet heard of the
// changes, so a layout it holds may be one of older text.
QTextLayout* LogView::laidOut(QTextBlock block) {
    block.clearLayout();
    qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout())->ensureBlockLayout(block);
    m_laidOut.append(block.blockNumber());
    return block.layout();
}

// The block's layout as the document layout keeps it, laid out if it holds none. Out of an edit
// block the document layout has heard of every change, so it is a layout of the current text; it
// is the one painting uses, so it keeps its glyphs for the paint.
QTextLayout* LogView::shownLayout(const QTextBlock& block) {
    block.layout()->setCacheEnabled(true);
    qobject_cast<QPlainTextDocumentLayout*>(document()->documentLayout())->ensureBlockLayout(block);
    m_laidOut.append(block.blockNumber());
    return block.layout();
}

bool LogView::wraps() const {
    return lineWrapMode() != NoWrap && m_rowWidth < kUnwrapped;
}

// The width QPlainTextDocumentLayout gives every row, read from a row it laid out: it gives all
// rows the viewport's width less the document margins, or no limit before it knows that width.
void LogView::measureRowWidth() {
    m_rowWidth = laidOut(document()->begin())->lineAt(0).width();
    m_rowEstimate.forgetAdvances();
}

// Whether `text`, laid out as the document lays out a block, starts its second row at `position`.
bool LogView::rowBreaksAt(const QString& text, qsizetype position) const {
    QTextLayout layout(text, document()->defaultFont(), viewport());
    layout.setTextOption(document()->defaultTextOption());
    layout.beginLayout();
    QTextLine first = layout.createLine();
    first.setLineWidth(m_rowWidth);
    const QTextLine second = layout.createLine();
    const bool breaks = second.isValid() && second.textStart() == position;
    layout.endLayout();
    return breaks;
}

// Inserts stored text at `cursor` in pieces; whenever the cursor's block outgrows kBlockTarget,
// cuts it at the start of the last row that begins before the cursor. At the end of the text
// that leaves the growing block one row long.
void LogView::insertBounded(QTextCursor& cursor, QStringView text) {
    while (!text.isEmpty()) {
        const int room = kBlockTarget - (cursor.block().length() - 1);
        const qsizetype take =
            wholePairs(text, std::min<qsizetype>(text.size(), std::max(room, kBlockTarget / 4)));
        cursor.insertText(text.first(take).toString(), QTextCharFormat());
        text = text.sliced(take);
        if (cursor.block().length() - 1 >= kBlockTarget) {
            cutBefore(cursor);
        }
    }
}

// Cuts where the last row that begins before the cursor was estimated to begin, without laying
// the block out: appends that scroll out of view unseen never need a layout. The break is marked
// as estimated, and checkShown() lays the blocks in view out and moves any break that stands
// elsewhere than at the start of a row before it is painted.
void LogView::cutBefore(const QTextCursor& cursor) {
    if (wraps() && cutAtEstimatedRow(cursor)) {
        return;
    }
    const QTextBlock block = cursor.block();
    const int cut = fallbackCut(block.text(), cursor.positionInBlock());
    if (cut > 0) {
        cutAt(block.position() + cut);
    }
}

// Cuts the cursor's block where the last row that begins before the cursor is estimated to
// begin, and gives both parts their estimated row counts; false when the block is one row up to
// the cursor.
bool LogView::cutAtEstimatedRow(const QTextCursor& cursor) {
    const QTextBlock block = cursor.block();
    const QList<int> starts = m_rowEstimate.rowStarts(block.text(), m_rowWidth);
    const auto after = std::upper_bound(starts.begin(), starts.end(), cursor.positionInBlock());
    if (after == starts.begin()) {
        return false;
    }
    const auto rowsBefore = static_cast<int>(after - starts.begin());
    const int second = cutAt(block.position() + *(after - 1));
    document()->findBlock(second - 1).setLineCount(rowsBefore);
    QTextBlock next = document()->findBlock(second);
    next.setLineCount(static_cast<int>(starts.size()) + 1 - rowsBefore);
    if (isContinuation(next)) {
        next.setUserState(kEstimatedBreak);
    }
    return true;
}

// The received-bytes box shows one row without wrapping, the end of its text: the last block
// keeps two to three rows' width of characters, enough to fill the row, and the text before it
// stands in blocks out of view. So an append lays out and paints a few dozen characters, however
// long the text. (Where rows start is only the measure of a row's width here: nothing wraps.)
void LogView::keepLastBlockShort() {
    const QTextBlock block = document()->lastBlock();
    if (m_rowWidth >= kUnwrapped || block.length() - 1 < kShortPiece) {
        return;
    }
    const QList<int> starts = m_rowEstimate.rowStarts(block.text(), m_rowWidth);
    if (starts.size() < 3) {
        return;
    }
    const int second = cutAt(block.position() + starts[starts.size() - 3]);
    document()->findBlock(second - 1).setLineCount(1);
    document()->findBlock(second).setLineCount(1);
}

// Cuts `block` where row `line` of its current `layout` starts, gives both parts their line counts
// and returns where the second part starts. (The document layout hears of the cut only when the
// edit ends, and lays out again only what it shows, while the scroll bar counts rows.)
int LogView::cutAtRow(const QTextBlock& block, const QTextLayout& layout, int line) {
    const int lines = layout.lineCount();
    const int second = cutAt(block.position() + layout.lineAt(line).textStart());
    document()->findBlock(second - 1).setLineCount(line);
    document()->findBlock(second).setLineCount(lines - line);
    return second;
}

// Breaks the block at `position`, inside it, and returns where the block after the break
// starts. Next to a stored break, that break becomes the block boundary; elsewhere the boundary
// is a display-only break.
int LogView::cutAt(int position) {
    if (document()->characterAt(position - 1) == kStoredBreak) {
        replaceWithBreak(position - 1, 1);
        return position;
    }
    if (document()->characterAt(position) == kStoredBreak) {
        replaceWithBreak(position, 1);
        return position + 1;
    }
    QTextCursor cursor(document());
    cursor.setPosition(position);
    cursor.insertBlock(QTextBlockFormat(), separatorFormat(true));
    return position + 1;
}

// Replaces `length` characters at `from` (stored breaks and display-only breaks) by one CR LF
// break between blocks.
void LogView::replaceWithBreak(int from, int length) {
    QTextCursor cursor(document());
    cursor.setPosition(from);
    cursor.setPosition(from + length, QTextCursor::KeepAnchor);
    cursor.insertBlock(QTextBlockFormat(), separatorFormat(false));
}

void LogView::removeSeparator(int position) {
    QTextCursor cursor(document());
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

// The text between two document positions, as the caller sees it.
QString LogView::textBetween(int from, int to) const {
    QString result;
    for (QTextBlock block = document()->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from && !isContinuation(block)) {
            result += kCrLf;
        }
        const int start = std::max(from - block.position(), 0);
        const int end = std::min(to - block.position(), block.length() - 1);
        if (end > start) {
            appendTrueText(result, QStringView(block.text()).sliced(start, end - start));
        }
    }
    return result;
}

// --- Keeping display-only breaks at row starts --------------------------------------------------

// Repairs the breaks from `block` on, whose start must start a row: every display-only break
// stands between two non-empty blocks, next to no stored break, at the start of a row, and
// blocks stay within kBlockLimit. Examines every break up to position `until`; past it, stops at
// the first break that needed nothing. Returns the block to resume at once `budget` characters
// are laid out, else an invalid block.
QTextBlock LogView::repairFrom(QTextBlock block, int until, qsizetype& budget) {
    const bool wrapping = wraps();
    // Whether `block` holds a layout of its current text: `next` became `block` unchanged.
    bool fresh = false;
    while (block.isValid()) {
        const int at = block.position();
        if (wrapping && block.length() - 1 > kBlockLimit && cutNearTarget(block)) {
            block = document()->findBlock(at);
            fresh = false;
            continue;
        }
        const QTextBlock next = block.next();
        if (!next.isValid()) {
            return {};
        }
        if (isContinuation(next) && repairJoin(block, next)) {
            block = document()->findBlock(at);
            fresh = false;
            continue;
        }
        if (!isContinuation(next) || !wrapping) {
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
            QTextBlock(next).setUserState(-1);
            if (next.position() > until) {
                return {};
            }
            block = next;
            fresh = true;
            continue;
        }
        // The break stands inside what would be a row: move it back to the start of that row.
        // The rows in front of it stay as they are; a block of one row joins the next one.
        removeSeparator(next.position() - 1);
        block = document()->findBlock(
            lastRow > 0 ? cutAtRow(document()->findBlock(at), *layout, layout->lineCount() - 1)
                        : at);
        fresh = false;
    }
    return {};
}

// The structural part of a repair: a display-only break next to an empty block goes, and one
// next to a stored break merges with it into a CR LF break between blocks.
bool LogView::repairJoin(const QTextBlock& block, const QTextBlock& next) {
    const int at = next.position();
    if (block.length() == 1 || next.length() == 1) {
        removeSeparator(at - 1);
        return true;
    }
    if (document()->characterAt(at - 2) == kStoredBreak) {
        replaceWithBreak(at - 2, 2);
        return true;
    }
    if (document()->characterAt(at) == kStoredBreak) {
        replaceWithBreak(at - 1, 2);
        return true;
    }
    return false;
}

bool LogView::cutNearTarget(const QTextBlock& block) {
    const QTextLayout* layout = laidOut(block);
    int best = 0;
    const auto distance = [layout](int line) {
        return std::abs(layout->lineAt(line).textStart() - kBlockTarget);
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
bool LogView::startsRow(const QTextBlock& block, int lastRow, const QTextBlock& next,
                        const QTextLayout& nextLayout) const {
    QString rows = block.text().mid(lastRow);
    const qsizetype tail = rows.size();
    const int head =
        nextLayout.lineCount() > 1 ? nextLayout.lineAt(1).textStart() : next.length() - 1;
    rows += QStringView(next.text()).first(head);
    return rowBreaksAt(rows, tail);
}

void LogView::repairRange(int from, int to, qsizetype budget) {
    QTextBlock start = document()->findBlock(from);
    if (start.previous().isValid()) {
        start = start.previous();
    }
    const QTextBlock resume = repairFrom(start, to, budget);
    if (resume.isValid()) {
        m_debts.append(QTextCursor(resume));
        if (m_debts.size() > kMaxDebts) {
            m_debts.removeFirst();
        }
    }
}

void LogView::payDebts(qsizetype budget) {
    while (budget > 0 && !m_debts.isEmpty()) {
        QTextCursor debt = m_debts.takeFirst();
        const QTextBlock resume = repairFrom(debt.block(), debt.position(), budget);
        if (resume.isValid()) {
            debt.setPosition(resume.position());
            m_debts.prepend(debt);
        }
    }
}

void LogView::realignAll() {
    const ProgrammaticChange change(*this);
    m_debts.clear();
    editQuietly(document(), [&] {
        qsizetype budget = std::numeric_limits<qsizetype>::max();
        repairFrom(document()->begin(), document()->characterCount(), budget);
        // Every block counts its rows again, so that the scroll bar counts rows, not blocks.
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
            laidOut(block);
        }
    });
    retireLayouts();
}

// Checks the display-only breaks in front of the blocks in view that were placed by an estimate,
// and moves those that stand elsewhere than at a row start; the repair goes on behind the view as
// far as breaks move (within a budget, the rest left to later appends). A moved break changes the
// number of rows, so the view may show other blocks afterwards: they are checked in turn.
//
// It keeps the operator's undo history: a check that moves nothing changes nothing, and a break
// that moves becomes an undo step of its own, as the repair of an operator's edit does. While
// redo is possible, the check waits, as that repair does too: a change now would end redo.
void LogView::checkShown() {
    if (!wraps() || m_checking || document()->isRedoAvailable()) {
        return;
    }
    m_checking = true;
    // The changes are LogView's own: no repair of edits, and the view's following is kept.
    ++m_programmatic;
    for (int round = 0; round < blockCount(); ++round) {
        // The breaks in front of the blocks in view; the one in front of the first decides
        // where the top row starts.
        const auto [first, last] = visibleBlocks();
        const QTextBlock from = document()->findBlockByNumber(std::max(first - 1, 0));
        const QTextBlock to = document()->findBlockByNumber(last);
        // Most estimates hold: those need a look at the layouts, and no change of the document.
        bool moves = false;
        for (QTextBlock block = from; block.isValid() && block.blockNumber() < last;
             block = block.next()) {
            QTextBlock next = block.next();
            if (!isEstimated(next)) {
                continue;
            }
            // An edit may have made the break a line break, which starts a row anyway.
            if (!isContinuation(next)) {
                next.setUserState(-1);
                continue;
            }
            const QTextLayout* layout = shownLayout(block);
            if (!startsRow(block, layout->lineAt(layout->lineCount() - 1).textStart(), next,
                           *shownLayout(next))) {
                moves = true;
                break;
            }
            next.setUserState(-1);
        }
        if (!moves) {
            break;
        }
        const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
        editQuietly(document(), [&] {
            qsizetype budget = kEditBudget;
            const QTextBlock resume = repairFrom(from, to.position(), budget);
            if (resume.isValid()) {
                m_debts.append(QTextCursor(resume));
                if (m_debts.size() > kMaxDebts) {
                    m_debts.removeFirst();
                }
            }
        });
        if (atEnd) {
            scrollToEnd();
        }
    }
    --m_programmatic;
    m_checking = false;
}

// --- The operator's edits ----------------------------------------------------------------------

bool LogView::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
            // What the operator does works on the whole text.
            flushPending();
            break;
        default:
            break;
    }
    return QPlainTextEdit::event(event);
}

bool LogView::viewportEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::DragEnter:
        case QEvent::Drop:
            flushPending();
            break;
        default:
            break;
    }
    return QPlainTextEdit::viewportEvent(event);
}

// The edit a key makes, if it is one LogView makes itself; other keys go to QPlainTextEdit.
std::optional<LogView::KeyEdit> LogView::keyEdit(const QKeyEvent* event) {
    if (isLineBreakKey(event)) {
        return KeyEdit::LineBreak;
    }
    if (event->matches(QKeySequence::DeleteEndOfLine)) {
        return KeyEdit::DeleteToLineEnd;
    }
    if (event->matches(QKeySequence::DeleteStartOfWord)) {
        return KeyEdit::DeleteWordBefore;
    }
    if (event->matches(QKeySequence::DeleteEndOfWord)) {
        return KeyEdit::DeleteWordAfter;
    }
    if (event->matches(QKeySequence::Backspace) ||
        (event->key() == Qt::Key_Backspace &&
         (event->modifiers() & ~Qt::ShiftModifier) == Qt::NoModifier)) {
        return KeyEdit::DeletePrevious;
    }
    if (event->matches(QKeySequence::Delete)) {
        return KeyEdit::DeleteNext;
    }
    const QString typed = event->text();
    const bool command = (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) != 0;
    if (!command && !typed.isEmpty() && (typed.front().isPrint() || typed.front() == u'\t')) {
        return KeyEdit::Type;
    }
    return std::nullopt;
}

void LogView::keyPressEvent(QKeyEvent* event) {
    const std::optional<KeyEdit> edit = isReadOnly() ? std::nullopt : keyEdit(event);
    if (!edit) {
        QPlainTextEdit::keyPressEvent(event);
        stepOverBreak(event);
        return;
    }
    if (*edit == KeyEdit::LineBreak && m_mode == Mode::OneLine) {
        event->ignore();
        return;
    }
    event->accept();
    editByKey(*edit, *edit == KeyEdit::LineBreak ? QString(kStoredBreak)
                                                 : withLineBreaks(event->text(), lineBreakText()));
}

// Whether `edit` at the caret may move the rows next to a display-only break. Typing letters and
// digits into a block that no break follows cannot: it makes no word shorter and no new place to
// wrap.
bool LogView::editTouchesBreaks(KeyEdit edit, const QString& typed) const {
    const QTextCursor caret = textCursor();
    const QTextBlock block = document()->findBlock(caret.selectionStart());
    if (block != document()->findBlock(caret.selectionEnd()) || isContinuation(block.next()) ||
        block.length() > kBlockLimit - kBlockTarget) {
        return true;
    }
    const bool lettersAndDigits = edit == KeyEdit::Type && !caret.hasSelection() &&
                                  std::all_of(typed.begin(), typed.end(), [](QChar c) {
                                      return c.unicode() < 0x80 && c.isLetterOrNumber();
                                  });
    if (lettersAndDigits) {
        return false;
    }
    return isContinuation(block) || (caret.atBlockStart() && block.previous().isValid()) ||
           (caret.atBlockEnd() && block.next().isValid());
}

// Makes the edit of a key with a cursor of LogView's own. Next to display-only breaks, the edit
// and the repair of the breaks around it form one undo step, an edit block, and QPlainTextEdit's
// key handling must not run inside one: it reads layouts the edit has not reached yet. Elsewhere
// the edit is a plain one, and Qt merges typed text into one undo step as usual.
void LogView::editByKey(KeyEdit edit, const QString& typed) {
    QTextCursor cursor = textCursor();
    const bool grouped = editTouchesBreaks(edit, typed);
    // Where the edit happens, followed through it.
    QTextCursor start(document());
    QTextCursor end(document());
    if (grouped) {
        start.setPosition(cursor.selectionStart());
        start.setKeepPositionOnInsert(true);
        end.setPosition(cursor.selectionEnd());
        cursor.beginEditBlock();
    }
    // At a display-only break, deleting reaches the character on its other side: the break is
    // no character of the text.
    const bool backward = edit == KeyEdit::DeletePrevious || edit == KeyEdit::DeleteWordBefore;
    const bool forward = edit == KeyEdit::DeleteNext || edit == KeyEdit::DeleteWordAfter;
    if (!cursor.hasSelection() && backward && cursor.atBlockStart() &&
        isContinuation(cursor.block())) {
        cursor.setPosition(cursor.position() - 1);
    } else if (!cursor.hasSelection() && forward && cursor.atBlockEnd() &&
               isContinuation(cursor.block().next())) {
        cursor.setPosition(cursor.position() + 1);
    }
    switch (edit) {
        case KeyEdit::Type:
        case KeyEdit::LineBreak:
            if (overwriteMode() && !cursor.hasSelection() && !cursor.atBlockEnd()) {
                cursor.deleteChar();
            }
            cursor.insertText(typed);
            break;
        case KeyEdit::DeletePrevious:
            cursor.deletePreviousChar();
            break;
        case KeyEdit::DeleteNext:
            cursor.deleteChar();
            break;
        case KeyEdit::DeleteWordBefore:
        case KeyEdit::DeleteWordAfter:
            if (!cursor.hasSelection()) {
                cursor.movePosition(backward ? QTextCursor::PreviousWord : QTextCursor::NextWord,
                                    QTextCursor::KeepAnchor);
            }
            cursor.removeSelectedText();
            break;
        case KeyEdit::DeleteToLineEnd:
            // To the end of the line, or the line break when the caret stands at it. (Qt deletes
            // to the end of the block, which here holds several lines or part of one.)
            if (!cursor.hasSelection()) {
                const int lineEndAt = lineEnd(cursor.position());
                cursor.setPosition(
                    lineEndAt == cursor.position() ? afterLineBreak(lineEndAt) : lineEndAt,
                    QTextCursor::KeepAnchor);
            }
            cursor.removeSelectedText();
            break;
    }
    if (grouped) {
        {
            const QSignalBlocker quiet(document()->documentLayout());
            repairRange(std::min(start.position(), cursor.position()),
                        std::max(end.position(), cursor.position()), kEditBudget);
        }
        const bool wasDirty = m_dirty;
        cursor.endEditBlock();
        // The edit's own change notice needs no second repair.
        m_dirty = wasDirty;
    }
    setTextCursor(cursor);
}

// Edits LogView does not make itself (the context menu's cut and delete, input methods, drag and
// drop, undo and redo) are repaired from the event loop, as an undo step of their own.
void LogView::noteEdit(int from, int /*charsRemoved*/, int charsAdded) {
    if (m_programmatic > 0) {
        return;
    }
    const int last = document()->characterCount() - 1;
    if (!m_dirty) {
        m_dirty = true;
        m_dirtyStart = QTextCursor(document());
        m_dirtyStart.setKeepPositionOnInsert(true);
        m_dirtyEnd = QTextCursor(document());
        m_dirtyStart.setPosition(std::min(from, last));
        m_dirtyEnd.setPosition(std::min(from + charsAdded, last));
        QMetaObject::invokeMethod(this, &LogView::repairEdits, Qt::QueuedConnection);
        return;
    }
    m_dirtyStart.setPosition(std::min({m_dirtyStart.position(), from, last}));
    m_dirtyEnd.setPosition(std::min(std::max(m_dirtyEnd.position(), from + charsAdded), last));
}

void LogView::repairEdits() {
    if (!m_dirty) {
        return;
    }
    m_dirty = false;
    // Undo and redo bring back earlier states, breaks and all; a repair now would end redo.
    if (document()->isRedoAvailable()) {
        return;
    }
    editQuietly(document(),
                [&] { repairRange(m_dirtyStart.position(), m_dirtyEnd.position(), kEditBudget); });
}

// The two cursor positions on either side of a display-only break are one position of the
// text, so moving over it takes one step, not two.
void LogView::stepOverBreak(const QKeyEvent* event) {
    QTextCursor cursor = textCursor();
    if (!cursor.atBlockEnd() || !isContinuation(cursor.block().next())) {
        return;
    }
    const bool selects =
        matchesAny(event, {QKeySequence::SelectNextChar, QKeySequence::SelectNextWord,
                           QKeySequence::SelectPreviousChar, QKeySequence::SelectPreviousWord});
    const auto mode = selects ? QTextCursor::KeepAnchor : QTextCursor::MoveAnchor;
    if (matchesAny(event, {QKeySequence::MoveToNextChar, QKeySequence::MoveToNextWord,
                           QKeySequence::SelectNextChar, QKeySequence::SelectNextWord})) {
        cursor.setPosition(cursor.position() + 1, mode);
    } else if (matchesAny(event,
                          {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar})) {
        cursor.movePosition(QTextCursor::PreviousCharacter, mode);
    } else if (matchesAny(event,
                          {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord})) {
        cursor.movePosition(QTextCursor::PreviousWord, mode);
    } else {
        return;
    }
    setTextCursor(cursor);
}

// Where the line around `position` starts and ends, across display-only breaks.
int LogView::lineStart(int position) const {
    QTextBlock block = document()->findBlock(position);
    int offset = position - block.position();
    while (true) {
        const qsizetype stored = QStringView(block.text()).first(offset).lastIndexOf(kStoredBreak);
        if (stored >= 0) {
            return block.position() + static_cast<int>(stored) + 1;
        }
        if (!isContinuation(block)) {
            return block.position();
        }
        block = block.previous();
        offset = block.length() - 1;
    }
}

int LogView::lineEnd(int position) const {
    QTextBlock block = document()->findBlock(position);
    int offset = position - block.position();
    while (true) {
        const qsizetype stored = block.text().indexOf(kStoredBreak, offset);
        if (stored >= 0) {
            return block.position() + static_cast<int>(stored);
        }
        if (!isContinuation(block.next())) {
            return block.position() + block.length() - 1;
        }
        block = block.next();
        offset = 0;
    }
}

// The position behind the line break at `position`, which lineEnd() returned.
int LogView::afterLineBreak(int position) const {
    return std::min(position + 1, document()->characterCount() - 1);
}

// What a triple click selects: the line with its break, as QPlainTextEdit does for a block.
void LogView::selectLine(int position) {
    QTextCursor cursor = textCursor();
    cursor.setPosition(lineStart(position));
    cursor.setPosition(afterLineBreak(lineEnd(position)), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

QString LogView::lineBreakText() const {
    return m_mode == Mode::OneLine ? QStringLiteral(" ") : QString(kStoredBreak);
}

void LogView::inputMethodEvent(QInputMethodEvent* event) {
    const QString clean = withLineBreaks(event->commitString(), lineBreakText());
    if (clean == event->commitString()) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QInputMethodEvent copy(event->preeditString(), event->attributes());
    copy.setCommitString(clean, event->replacementStart(), event->replacementLength());
    QPlainTextEdit::inputMethodEvent(&copy);
    event->setAccepted(copy.isAccepted());
}

void LogView::mousePressEvent(QMouseEvent* event) {
    const bool tripleClick = event->button() == Qt::LeftButton && m_sinceDoubleClick.isValid() &&
                             m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval() &&
                             (event->position().toPoint() - m_doubleClickPoint).manhattanLength() <
                                 QApplication::startDragDistance();
    m_sinceDoubleClick.invalidate();
    QPlainTextEdit::mousePressEvent(event);
    if (tripleClick) {
        selectLine(cursorForPosition(event->position().toPoint()).position());
    }
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    m_sinceDoubleClick.start();
    m_doubleClickPoint = event->position().toPoint();
}

QMimeData* LogView::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    auto* mime = new QMimeData;
    mime->setText(textBetween(cursor.selectionStart(), cursor.selectionEnd()));
    return mime;
}

bool LogView::canInsertFromMimeData(const QMimeData* source) const {
    return source != nullptr && source->hasText();
}

void LogView::insertFromMimeData(const QMimeData* source) {
    if (!canInsertFromMimeData(source) || isReadOnly()) {
        return;
    }
    const QString text = withLineBreaks(source->text(), lineBreakText());
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    {
        const QSignalBlocker quiet(document()->documentLayout());
        cursor.removeSelectedText();
        const int from = cursor.position();
        insertBounded(cursor, text);
        repairRange(from, cursor.position(), kEditBudget);
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
}

// --- The view ----------------------------------------------------------------------------------

bool LogView::followsEnd() const {
    return m_mode == Mode::OneLine || m_followEnd;
}

void LogView::scrollToEnd() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    if (m_mode == Mode::OneLine) {
        // The end of the last block at the right edge, as a one-line box shows it after its
        // text is set.
        const QTextLayout* layout = shownLayout(document()->lastBlock());
        const qreal end = layout->lineCount() > 0 ? layout->lineAt(0).naturalTextWidth() : 0;
        horizontalScrollBar()->setValue(std::max(qCeil(end) - viewport()->width(), 0));
    }
}

// Makes the viewport of the received-bytes box one row high, in the middle of the box.
void LogView::fitOneRow() {
    const int row = qCeil(QFontMetricsF(font()).lineSpacing()) + 1;
    const int spare = std::max(contentsRect().height() - row, 0);
    setViewportMargins(kOneLinePadding, spare / 2, kOneLinePadding, spare - spare / 2);
}

// The numbers of the first and the last block in view.
std::pair<int, int> LogView::visibleBlocks() const {
    QTextBlock block = firstVisibleBlock();
    if (!block.isValid()) {
        return {0, -1};
    }
    const int first = block.blockNumber();
    int last = first;
    qreal top = blockBoundingGeometry(block).translated(contentOffset()).top();
    while (block.isValid() && top <= viewport()->height()) {
        last = block.blockNumber();
        top += blockBoundingRect(block).height();
        block = block.next();
    }
    return {first, last};
}

void LogView::paintEvent(QPaintEvent* event) {
    // The blocks in view keep their glyphs from one paint to the next (Qt's layouts drop them
    // once laid out): a paint after a small append then shapes only what changed.
    QTextBlock shown = firstVisibleBlock();
    for (qreal top = contentOffset().y(); shown.isValid() && top <= viewport()->height();
         shown = shown.next()) {
        shown.layout()->setCacheEnabled(true);
        top += blockBoundingRect(shown).height();
    }
    QPlainTextEdit::paintEvent(event);
    const std::pair<int, int> painted = visibleBlocks();
    // A way into view that checked nothing (none is known): check now, and paint again.
    for (QTextBlock block = document()->findBlockByNumber(painted.first);
         block.isValid() && block.blockNumber() <= painted.second; block = block.next()) {
        if (isEstimated(block)) {
            QMetaObject::invokeMethod(this, &LogView::checkShown, Qt::QueuedConnection);
            break;
        }
    }
    if (painted == m_painted) {
        return;
    }
    for (int number = m_painted.first; number <= m_painted.second; ++number) {
        m_laidOut.append(number);
    }
    m_painted = painted;
    if (!m_retireQueued && pending().isEmpty()) {
        m_retireQueued = true;
        QMetaObject::invokeMethod(this, &LogView::retireWhenIdle, Qt::QueuedConnection);
    }
}

// Drops the layouts of blocks out of view; only inside a programmatic change, as it edits the
// document. A QTextLayout keeps its rows until its block goes, so the block is made anew: a
// separator inserted at its start and removed again takes the old block data, layout included,
// with it. The two are edits of their own, each in an edit block, where a cursor lays out
// nothing: in one edit they would change nothing, and the document layout takes a change of
// nothing for one that reaches the end, dropping the layouts of every block behind, those in view
// included, which the next paint would lay out again. It keeps the line counts, so the scroll
// bar does not move.
void LogView::retireLayouts() {
    std::sort(m_laidOut.begin(), m_laidOut.end());
    m_laidOut.erase(std::unique(m_laidOut.begin(), m_laidOut.end()), m_laidOut.end());
    const auto [firstVisible, lastVisible] = visibleBlocks();
    const int keepFrom = blockCount() - kKeepLaidOut;
    // The caret's blocks keep theirs too: Qt works out where the caret stands after every change
    // of the document, laying out its block, wherever the caret is.
    const QTextCursor caret = textCursor();
    const int caretBlock = caret.blockNumber();
    const int anchorBlock = document()->findBlock(caret.anchor()).blockNumber();
    QList<int> kept;
    // The blocks made anew, with their row counts and states (whether the break in front of
    // them is an estimate not yet checked), which the new block data takes over.
    struct Remade {
        int number = 0;
        int lines = 0;
        int state = -1;
    };
    QList<Remade> remade;
    // The text stays as it is: neither the document nor its layout tells anyone.
    const QSignalBlocker quietDocument(document());
    const QSignalBlocker quietLayout(document()->documentLayout());
    QTextCursor cursor(document());
    for (const int number : std::as_const(m_laidOut)) {
        if (number < 0 || number >= blockCount()) {
            continue;
        }
        if (number >= keepFrom || (number >= firstVisible && number <= lastVisible) ||
            number == caretBlock || number == anchorBlock) {
            kept.append(number);
            continue;
        }
        const QTextBlock block = document()->findBlockByNumber(number);
        remade.append({number, block.lineCount(), block.userState()});
        const int at = block.position();
        cursor.beginEditBlock();
        cursor.setPosition(at);
        cursor.insertBlock();
        cursor.endEditBlock();
        cursor.beginEditBlock();
        cursor.setPosition(at);
        cursor.setPosition(at + 1, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.endEditBlock();
    }
    for (const Remade& block : std::as_const(remade)) {
        QTextBlock made = document()->findBlockByNumber(block.number);
        made.setLineCount(block.lines);
        made.setUserState(block.state);
    }
    m_laidOut = kept;
}

// Small appends leave a block per row behind the growing last one. Once a kBlockTarget's worth
// of them is out of view, they are joined again into blocks of about kBlockTarget characters,
// which holds the document's overhead per character down. The breaks between them stand at row
// starts, so a joined block wraps into the same rows, and its row count is their sum; nothing
// out of view needs a layout for it. Block numbers behind the joined ones shift down.
void LogView::joinRowsOutOfView() {
    const QTextBlock last = document()->lastBlock();
    QTextBlock start = last;
    qsizetype small = 0;
    for (QTextBlock block = last.previous();
         block.isValid() && isContinuation(block.next()) && block.length() - 1 < kBlockTarget / 2;
         block = block.previous()) {
        start = block;
        small += block.length() - 1;
    }
    if (small < kBlockTarget || start == last) {
        return;
    }
    // Named, not bound: the lambda below captures them.
    const std::pair<int, int> visible = visibleBlocks();
    const int firstVisible = visible.first;
    const int lastVisible = visible.second;
    const int lastNumber = last.blockNumber();
    int joined = 0;
    int joinedBefore = 0;
    // Joins in front of the view move the blocks in view up by as many numbers.
    const auto inView = [&](const QTextBlock& block) {
        const int number = block.blockNumber() + joinedBefore;
        return number >= firstVisible && number <= lastVisible;
    };
    const QSignalBlocker quietDocument(document());
    editQuietly(document(), [&] {
        QTextBlock block = start;
        while (block.isValid() && block.blockNumber() < lastNumber - joined - 1) {
            const QTextBlock next = block.next();
            const bool fits = block.length() + next.length() - 2 <= kBlockTarget;
            if (inView(block) || inView(next) || !fits) {
                block = next;
                continue;
            }
            const int lines = block.lineCount() + next.lineCount();
            const int at = block.position();
            joinedBefore += block.blockNumber() < firstVisible ? 1 : 0;
            removeSeparator(next.position() - 1);
            block = document()->findBlock(at);
            block.setLineCount(wraps() ? lines : 1);
            ++joined;
        }
    });
    // retireLayouts() left the blocks in view and the last ones in the list.
    for (int& number : m_laidOut) {
        number -= number > lastVisible ? joined : (number >= firstVisible ? joinedBefore : 0);
    }
}

// After the view moved: the blocks that left it drop their layouts, unless the operator's undo
// history would go with them; then the next programmatic change drops them.
void LogView::retireWhenIdle() {
    m_retireQueued = false;
    if (document()->isUndoAvailable() || document()->isRedoAvailable() || !pending().isEmpty()) {
        return;
    }
    const ProgrammaticChange change(*this);
    retireLayouts();
}

void LogView::scrollContentsBy(int dx, int dy) {
    noteBlocksNearTop();
    QPlainTextEdit::scrollContentsBy(dx, dy);
}

// Scrolling, QPlainTextEdit works out how far the old top row moved by laying out the blocks from
// the old top block towards the new one, until twice the view's height lies between them
// (QPlainTextEditControl::blockBoundingRect). After a large append or a long jump those are
// blocks nobody sees; noted here, their layouts go as the others' do.
void LogView::noteBlocksNearTop() {
    const qreal rowHeight = fontMetrics().lineSpacing();
    const qreal reach = 2 * viewport()->height();
    const QTextBlock top = firstVisibleBlock();
    const qreal first = top.lineCount() * rowHeight;
    m_laidOut.append(top.blockNumber());
    qreal offset = 0;
    for (QTextBlock block = top; block.isValid() && offset - first <= reach;) {
        offset += block.lineCount() * rowHeight;
        block = block.next();
        if (block.isValid()) {
            m_laidOut.append(block.blockNumber());
        }
    }
    offset = 0;
    for (QTextBlock block = top.previous(); block.isValid() && offset + first >= -reach / 2;
         block = block.previous()) {
        m_laidOut.append(block.blockNumber());
        offset -= block.lineCount() * rowHeight;
    }
}

void LogView::resizeEvent(QResizeEvent* event) {
    if (m_mode == Mode::OneLine) {
        fitOneRow();
    }
    m_relayout = true;
    QPlainTextEdit::resizeEvent(event);
    m_relayout = false;
    const qreal before = m_rowWidth;
    measureRowWidth();
    if (m_rowWidth != before) {
        realignAll();
    }
    if (m_mode == Mode::OneLine) {
        scrollToEnd();
    }
}

void LogView::showEvent(QShowEvent* event) {
    m_relayout = true;
    QPlainTextEdit::showEvent(event);
    m_relayout = false;
    flushPending();
    checkShown();
}

void LogView::changeEvent(QEvent* event) {
    m_relayout = true;
    QPlainTextEdit::changeEvent(event);
    m_relayout = false;
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        if (m_mode == Mode::OneLine) {
            fitOneRow();
        }
        measureRowWidth();
        realignAll();
    }
}

}  // namespace ui

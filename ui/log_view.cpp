// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/log_view.h"

// Both boxes grow for as long as the board sends, and every reply byte joins the same line, so one
// line can reach millions of characters. Qt's text widgets lay out a whole paragraph again on
// every change, so each new byte would cost more than the one before; in LogView a change costs
// what it adds. Three parts:
//   - LogDocument, the stored form: blocks of about a thousand characters, a line's CR LF as
//     U+2028 inside a block, a long line cut by display-only breaks (marked block separators)
//     that text(), the end operations and whatever is copied, cut or dragged out leave out. The
//     marks sit on the separators themselves, so undo and redo restore them exactly, and an edit
//     that deletes a separator deletes its mark with it.
//   - RowAligner keeps every display-only break the operator sees at the start of a wrapped row.
//     Qt wraps greedily, so a block that starts where a row of the whole line starts wraps as that
//     line does: the rows on screen are those of the one paragraph. Appends cut the growing last
//     block where its last row is estimated to start (RowEstimate), without laying it out; before
//     blocks are painted, checkShown() checks the breaks between them against their layouts and
//     moves those the estimate misplaced. After an edit, the breaks behind it are moved back to
//     row starts, a bounded amount of work per edit; later appends finish the rest.
//   - LogView, the widget: the operator's edits, made so that they keep the breaks, and the view.
//     Appended text waits in LogDocument and reaches the document at most once a frame of the
//     FrameClock (sooner when a flood piles much of it up), and not at all while the box is
//     hidden; the layouts of blocks out of view are dropped.

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QList>
#include <QMimeData>
#include <QPoint>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QtMath>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <utility>

#include "ui/frame_clock.h"
#include "ui/log_document.h"
#include "ui/row_aligner.h"

namespace ui {

namespace {

constexpr QChar kStoredBreak = LogDocument::kStoredBreak;
constexpr qsizetype kEditBudget = RowAligner::kEditBudget;
// The last blocks keep their layouts: the next append lays them out again anyway.
constexpr int kKeepLaidOut = 2;
// Appended text reaches the document at once when this much of it waits.
constexpr qsizetype kFlushAtOnce = qsizetype{64} * 1024;
// The space between the frame of the received-bytes box and its text, left and right.
constexpr int kOneLinePadding = 4;

bool matchesAny(const QKeyEvent* event, std::initializer_list<QKeySequence::StandardKey> keys) {
    return std::any_of(keys.begin(), keys.end(),
                       [event](QKeySequence::StandardKey key) { return event->matches(key); });
}

bool isLineBreakKey(const QKeyEvent* event) {
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
           matchesAny(event,
                      {QKeySequence::InsertParagraphSeparator, QKeySequence::InsertLineSeparator});
}

}  // namespace

// Marks the document changes in its scope as the program's own: they clear the undo history and
// keep out of it, and no repair of operator edits runs for them.
// What LogView keeps beside the widget: the stored form, the row aligner, and the state of the
// view and of the operator's edits.
class LogView::Private {
public:
    Private(LogView& view, Mode mode)
        : q(view),
          m_mode(mode),
          m_stored(view.document()),
          m_aligner(m_stored, view.document(), view.viewport(), mode != Mode::OneLine,
                    [this](int block) { m_laidOut.append(block); }) {}

    // The edits a key makes that LogView makes itself; other keys go to QPlainTextEdit.
    enum class KeyEdit : std::uint8_t {
        Type,
        LineBreak,
        DeletePrevious,
        DeleteNext,
        DeleteWordBefore,
        DeleteWordAfter,
        DeleteToLineEnd,
    };

    // Appended text.
    void clearPending();
    void scheduleFlush();
    void flushPending();

    // Keeping display-only breaks at row starts.
    void realignAll();
    void checkShown();

    // The operator's edits.
    static std::optional<KeyEdit> keyEdit(const QKeyEvent* event);
    bool editTouchesBreaks(KeyEdit edit, const QString& typed) const;
    void editByKey(KeyEdit edit, const QString& typed);
    void noteEdit(int from, int charsRemoved, int charsAdded);
    void repairEdits();
    void stepOverBreak(const QKeyEvent* event);
    void selectLine(int position);
    QString lineBreakText() const;

    // The view.
    bool followsEnd() const;
    void scrollToEnd();
    void fitOneRow();
    QTextLayout* shownLayout(const QTextBlock& block);
    std::pair<int, int> visibleBlocks() const;
    void retireLayouts();
    void noteBlocksNearTop();
    void joinRowsOutOfView();
    void retireWhenIdle();

    LogView& q;
    Mode m_mode;
    LogDocument m_stored;
    RowAligner m_aligner;
    // Inside a change LogView makes itself (ProgrammaticChange), or a check of its breaks.
    int m_programmatic = 0;
    bool m_checking = false;
    bool m_followEnd = true;
    // Pixels at the right edge of the received-bytes box that its parent hides.
    int m_hiddenRight = 0;
    // Set while QPlainTextEdit lays the view out again, which moves the scroll bar.
    bool m_relayout = false;
    // An edit LogView did not make itself, repaired from the event loop; null when none.
    QTextCursor m_dirtyStart;
    QTextCursor m_dirtyEnd;
    // Numbers of blocks that may hold a layout, and the blocks painted last.
    QList<int> m_laidOut;
    std::pair<int, int> m_painted{0, -1};
    bool m_retireQueued = false;
    QElapsedTimer m_sinceDoubleClick;
    QPoint m_doubleClickPoint;
};

// Marks the document changes in its scope as the program's own: they clear the undo history and
// keep out of it, and no repair of operator edits runs for them.
class ProgrammaticChange {
public:
    explicit ProgrammaticChange(LogView::Private& view) : m_view(view) {
        if (m_view.m_programmatic++ == 0) {
            m_view.q.document()->setUndoRedoEnabled(false);
        }
    }
    ProgrammaticChange(const ProgrammaticChange&) = delete;
    ProgrammaticChange& operator=(const ProgrammaticChange&) = delete;
    ~ProgrammaticChange() {
        if (--m_view.m_programmatic == 0) {
            m_view.q.document()->setUndoRedoEnabled(true);
        }
    }

private:
    LogView::Private& m_view;
};

LogView::LogView(Mode mode, QWidget* parent)
    : QPlainTextEdit(parent), d(std::make_unique<Private>(*this, mode)) {
    setTabChangesFocus(true);
    setLineWrapMode(mode == Mode::OneLine ? NoWrap : WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    if (mode == Mode::OneLine) {
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
    d->m_aligner.measureRowWidth();
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int from, int removed, int added) { d->noteEdit(from, removed, added); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (d->m_programmatic == 0 && !d->m_relayout) {
            d->m_followEnd = value >= verticalScrollBar()->maximum();
        }
        // The view moved: the blocks it shows now are checked before they are painted.
        if (d->m_programmatic == 0) {
            d->checkShown();
        }
    });
}

// The document and the scroll bar go after the rest of LogView: they must not reach it then.
LogView::~LogView() {
    document()->disconnect(this);
    verticalScrollBar()->disconnect(this);
}

LogView::Mode LogView::mode() const {
    return d->m_mode;
}

// --- The text ------------------------------------------------------------------------------

QString LogView::text() const {
    return d->m_stored.text();
}

void LogView::setText(const QString& text) {
    d->clearPending();
    {
        const ProgrammaticChange change(*d);
        clear();
        d->m_aligner.clearDebts();
        d->m_laidOut.clear();
        QTextCursor cursor(document());
        d->m_stored.editQuietly([&] {
            d->m_aligner.insertBounded(cursor,
                                       LogDocument::withLineBreaks(text, {&kStoredBreak, 1}));
            if (d->m_mode == Mode::OneLine) {
                d->m_aligner.keepLastBlockShort();
            }
        });
        setTextCursor(QTextCursor(document()));
        d->m_followEnd = true;
        if (d->m_mode == Mode::OneLine) {
            d->scrollToEnd();
        }
        d->checkShown();
        d->retireLayouts();
    }
}

void LogView::appendText(QStringView text) {
    if (text.isEmpty()) {
        return;
    }
    d->m_stored.appendPending(text);
    d->scheduleFlush();
}

QString LogView::textStart(qsizetype count) const {
    return d->m_stored.textStart(count);
}

QString LogView::textEnd(qsizetype count) const {
    return d->m_stored.textEnd(count);
}

bool LogView::hasPendingText() const {
    return !d->m_stored.pending().isEmpty();
}

void LogView::removeStart(qsizetype count) {
    if (count <= 0) {
        return;
    }
    const ProgrammaticChange change(*d);
    qsizetype remaining = count;
    const int cut = d->m_stored.startCut(remaining);
    if (cut > 0) {
        QTextCursor cursor(document());
        d->m_stored.editQuietly([&] {
            cursor.setPosition(cut, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            // The first line now starts elsewhere, so its rows do too.
            d->m_aligner.repairStart();
        });
    }
    if (remaining > 0) {
        d->m_stored.dropPendingStart(std::min(remaining, d->m_stored.pending().size()));
    }
    d->checkShown();
    d->retireLayouts();
}

void LogView::removeEnd(qsizetype count) {
    if (count <= 0) {
        return;
    }
    if (!d->m_stored.pending().isEmpty()) {
        if (count < d->m_stored.pending().size()) {
            d->m_stored.dropPendingEnd(count);
            return;
        }
        count -= d->m_stored.pending().size();
        d->clearPending();
        if (count == 0) {
            return;
        }
    }
    const ProgrammaticChange change(*d);
    const int end = document()->characterCount() - 1;
    const int cut = d->m_stored.endCut(count);
    if (cut < end) {
        QTextCursor cursor(document());
        d->m_stored.editQuietly([&] {
            cursor.setPosition(cut);
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        });
    }
    d->checkShown();
    d->retireLayouts();
}

// --- Appended text ---------------------------------------------------------------------------

void LogView::Private::clearPending() {
    m_stored.clearPending();
    FrameClock::instance().cancel(&q);
}

// At the end of the frame after the last flush, or at once when a flood has piled up much text.
void LogView::Private::scheduleFlush() {
    if (!q.isVisible() || m_stored.pending().isEmpty()) {
        return;
    }
    FrameClock::instance().schedule(
        &q,
        [this] {
            const qsizetype size = m_stored.pending().size();
            flushPending();
            return size;
        },
        m_stored.pending().size() > kFlushAtOnce);
}

void LogView::Private::flushPending() {
    FrameClock::instance().cancel(&q);
    if (m_stored.pending().isEmpty()) {
        return;
    }
    const bool follow = followsEnd();
    {
        const ProgrammaticChange change(*this);
        const QStringView text = m_stored.pendingAsStored();
        for (int number = std::max(q.blockCount() - kKeepLaidOut, 0); number < q.blockCount();
             ++number) {
            m_laidOut.append(number);
        }
        QTextCursor cursor(q.document());
        m_stored.editQuietly([&] {
            // Inside the edit, where a cursor that moves does not work out its x coordinate: out
            // of it, that would shape the last block.
            cursor.movePosition(QTextCursor::End);
            m_aligner.insertBounded(cursor, text);
            // The growing last block stays one row long, so that the next small append lays
            // out and repaints that row, not the kBlockTarget characters a block may reach.
            if (m_aligner.wraps()) {
                m_aligner.cutAtEstimatedRow(cursor);
            } else if (m_mode == Mode::OneLine) {
                m_aligner.keepLastBlockShort();
            }
            m_aligner.payDebts(RowAligner::kFlushBudget);
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

// --- Checking the breaks in view ------------------------------------------------------------

// The block's layout as the document layout keeps it, laid out if it holds none. Out of an edit
// block the document layout has heard of every change, so it is a layout of the current text; it
// is the one painting uses, so it keeps its glyphs for the paint.
QTextLayout* LogView::Private::shownLayout(const QTextBlock& block) {
    block.layout()->setCacheEnabled(true);
    qobject_cast<QPlainTextDocumentLayout*>(q.document()->documentLayout())
        ->ensureBlockLayout(block);
    m_laidOut.append(block.blockNumber());
    return block.layout();
}

void LogView::Private::realignAll() {
    const ProgrammaticChange change(*this);
    m_aligner.realignAll();
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
void LogView::Private::checkShown() {
    if (!m_aligner.wraps() || m_checking || q.document()->isRedoAvailable()) {
        return;
    }
    m_checking = true;
    // The changes are LogView's own: no repair of edits, and the view's following is kept.
    ++m_programmatic;
    for (int round = 0; round < q.blockCount(); ++round) {
        // The breaks in front of the blocks in view; the one in front of the first decides
        // where the top row starts.
        const auto [first, last] = visibleBlocks();
        const QTextBlock from = q.document()->findBlockByNumber(std::max(first - 1, 0));
        const QTextBlock to = q.document()->findBlockByNumber(last);
        // Most estimates hold: those need a look at the layouts, and no change of the document.
        bool moves = false;
        for (QTextBlock block = from; block.isValid() && block.blockNumber() < last;
             block = block.next()) {
            QTextBlock next = block.next();
            if (!LogDocument::isEstimated(next)) {
                continue;
            }
            // An edit may have made the break a line break, which starts a row anyway.
            if (!LogDocument::isContinuation(next)) {
                LogDocument::setEstimated(next, false);
                continue;
            }
            const QTextLayout* layout = shownLayout(block);
            if (!m_aligner.startsRow(block, layout->lineAt(layout->lineCount() - 1).textStart(),
                                     next, *shownLayout(next))) {
                moves = true;
                break;
            }
            LogDocument::setEstimated(next, false);
        }
        if (!moves) {
            break;
        }
        const bool atEnd = q.verticalScrollBar()->value() == q.verticalScrollBar()->maximum();
        m_stored.editQuietly([&] { m_aligner.repair(from, to.position(), kEditBudget); });
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
            d->flushPending();
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
            d->flushPending();
            break;
        default:
            break;
    }
    return QPlainTextEdit::viewportEvent(event);
}

// The edit a key makes, if it is one LogView makes itself; other keys go to QPlainTextEdit.
std::optional<LogView::Private::KeyEdit> LogView::Private::keyEdit(const QKeyEvent* event) {
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
    const std::optional<Private::KeyEdit> edit =
        isReadOnly() ? std::nullopt : Private::keyEdit(event);
    if (!edit) {
        QPlainTextEdit::keyPressEvent(event);
        d->stepOverBreak(event);
        return;
    }
    if (*edit == Private::KeyEdit::LineBreak && d->m_mode == Mode::OneLine) {
        event->ignore();
        return;
    }
    event->accept();
    d->editByKey(*edit, *edit == Private::KeyEdit::LineBreak
                            ? QString(kStoredBreak)
                            : LogDocument::withLineBreaks(event->text(), d->lineBreakText()));
}

// Whether `edit` at the caret may move the rows next to a display-only break. Typing letters and
// digits into a block that no break follows cannot: it makes no word shorter and no new place to
// wrap.
bool LogView::Private::editTouchesBreaks(KeyEdit edit, const QString& typed) const {
    const QTextCursor caret = q.textCursor();
    const QTextBlock block = q.document()->findBlock(caret.selectionStart());
    if (block != q.document()->findBlock(caret.selectionEnd()) ||
        LogDocument::isContinuation(block.next()) ||
        block.length() > LogDocument::kBlockLimit - LogDocument::kBlockTarget) {
        return true;
    }
    const bool lettersAndDigits = edit == KeyEdit::Type && !caret.hasSelection() &&
                                  std::all_of(typed.begin(), typed.end(), [](QChar c) {
                                      return c.unicode() < 0x80 && c.isLetterOrNumber();
                                  });
    if (lettersAndDigits) {
        return false;
    }
    return LogDocument::isContinuation(block) ||
           (caret.atBlockStart() && block.previous().isValid()) ||
           (caret.atBlockEnd() && block.next().isValid());
}

// Makes the edit of a key with a cursor of LogView's own. Next to display-only breaks, the edit
// and the repair of the breaks around it form one undo step, an edit block, and QPlainTextEdit's
// key handling must not run inside one: it reads layouts the edit has not reached yet. Elsewhere
// the edit is a plain one, and Qt merges typed text into one undo step as usual.
void LogView::Private::editByKey(KeyEdit edit, const QString& typed) {
    QTextCursor cursor = q.textCursor();
    const bool grouped = editTouchesBreaks(edit, typed);
    // Where the edit happens, followed through it.
    QTextCursor start(q.document());
    QTextCursor end(q.document());
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
        LogDocument::isContinuation(cursor.block())) {
        cursor.setPosition(cursor.position() - 1);
    } else if (!cursor.hasSelection() && forward && cursor.atBlockEnd() &&
               LogDocument::isContinuation(cursor.block().next())) {
        cursor.setPosition(cursor.position() + 1);
    }
    switch (edit) {
        case KeyEdit::Type:
        case KeyEdit::LineBreak:
            if (q.overwriteMode() && !cursor.hasSelection() && !cursor.atBlockEnd()) {
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
                const int lineEndAt = m_stored.lineEnd(cursor.position());
                cursor.setPosition(
                    lineEndAt == cursor.position() ? m_stored.afterLineBreak(lineEndAt) : lineEndAt,
                    QTextCursor::KeepAnchor);
            }
            cursor.removeSelectedText();
            break;
    }
    if (grouped) {
        {
            const QSignalBlocker quiet(q.document()->documentLayout());
            m_aligner.repairRange(std::min(start.position(), cursor.position()),
                                  std::max(end.position(), cursor.position()), kEditBudget);
        }
        const bool wasDirty = !m_dirtyStart.isNull();
        cursor.endEditBlock();
        // The edit's own change notice needs no second repair.
        if (!wasDirty) {
            m_dirtyStart = QTextCursor();
        }
    }
    q.setTextCursor(cursor);
}

// Edits LogView does not make itself (the context menu's cut and delete, input methods, drag and
// drop, undo and redo) are repaired from the event loop, as an undo step of their own.
void LogView::Private::noteEdit(int from, int /*charsRemoved*/, int charsAdded) {
    if (m_programmatic > 0) {
        return;
    }
    const int last = q.document()->characterCount() - 1;
    if (m_dirtyStart.isNull()) {
        m_dirtyStart = QTextCursor(q.document());
        m_dirtyStart.setKeepPositionOnInsert(true);
        m_dirtyEnd = QTextCursor(q.document());
        m_dirtyStart.setPosition(std::min(from, last));
        m_dirtyEnd.setPosition(std::min(from + charsAdded, last));
        QMetaObject::invokeMethod(
            &q, [this] { repairEdits(); }, Qt::QueuedConnection);
        return;
    }
    m_dirtyStart.setPosition(std::min({m_dirtyStart.position(), from, last}));
    m_dirtyEnd.setPosition(std::min(std::max(m_dirtyEnd.position(), from + charsAdded), last));
}

void LogView::Private::repairEdits() {
    if (m_dirtyStart.isNull()) {
        return;
    }
    const int from = m_dirtyStart.position();
    const int to = m_dirtyEnd.position();
    m_dirtyStart = QTextCursor();
    // Undo and redo bring back earlier states, breaks and all; a repair now would end redo.
    if (q.document()->isRedoAvailable()) {
        return;
    }
    m_stored.editQuietly([&] { m_aligner.repairRange(from, to, kEditBudget); });
}

// The two cursor positions on either side of a display-only break are one position of the
// text, so moving over it takes one step, not two.
void LogView::Private::stepOverBreak(const QKeyEvent* event) {
    QTextCursor cursor = q.textCursor();
    if (!cursor.atBlockEnd() || !LogDocument::isContinuation(cursor.block().next())) {
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
    q.setTextCursor(cursor);
}

// What a triple click selects: the line with its break, as QPlainTextEdit does for a block.
void LogView::Private::selectLine(int position) {
    QTextCursor cursor = q.textCursor();
    cursor.setPosition(m_stored.lineStart(position));
    cursor.setPosition(m_stored.afterLineBreak(m_stored.lineEnd(position)),
                       QTextCursor::KeepAnchor);
    q.setTextCursor(cursor);
}

QString LogView::Private::lineBreakText() const {
    return m_mode == Mode::OneLine ? QStringLiteral(" ") : QString(kStoredBreak);
}

void LogView::inputMethodEvent(QInputMethodEvent* event) {
    const QString clean = LogDocument::withLineBreaks(event->commitString(), d->lineBreakText());
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
    const bool tripleClick =
        event->button() == Qt::LeftButton && d->m_sinceDoubleClick.isValid() &&
        d->m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval() &&
        (event->position().toPoint() - d->m_doubleClickPoint).manhattanLength() <
            QApplication::startDragDistance();
    d->m_sinceDoubleClick.invalidate();
    QPlainTextEdit::mousePressEvent(event);
    if (tripleClick) {
        d->selectLine(cursorForPosition(event->position().toPoint()).position());
    }
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
    QPlainTextEdit::mouseDoubleClickEvent(event);
    d->m_sinceDoubleClick.start();
    d->m_doubleClickPoint = event->position().toPoint();
}

QMimeData* LogView::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    auto* mime = new QMimeData;
    mime->setText(d->m_stored.textBetween(cursor.selectionStart(), cursor.selectionEnd()));
    return mime;
}

bool LogView::canInsertFromMimeData(const QMimeData* source) const {
    return source != nullptr && source->hasText();
}

void LogView::insertFromMimeData(const QMimeData* source) {
    if (!canInsertFromMimeData(source) || isReadOnly()) {
        return;
    }
    const QString text = LogDocument::withLineBreaks(source->text(), d->lineBreakText());
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    {
        const QSignalBlocker quiet(document()->documentLayout());
        cursor.removeSelectedText();
        const int from = cursor.position();
        d->m_aligner.insertBounded(cursor, text);
        d->m_aligner.repairRange(from, cursor.position(), kEditBudget);
    }
    cursor.endEditBlock();
    setTextCursor(cursor);
}

// --- The view ----------------------------------------------------------------------------------

bool LogView::Private::followsEnd() const {
    return m_mode == Mode::OneLine || m_followEnd;
}

void LogView::Private::scrollToEnd() {
    q.verticalScrollBar()->setValue(q.verticalScrollBar()->maximum());
    if (m_mode == Mode::OneLine) {
        // The end of the last block at the right edge, as a one-line box shows it after its
        // text is set.
        const QTextLayout* layout = shownLayout(q.document()->lastBlock());
        const qreal end = layout->lineCount() > 0 ? layout->lineAt(0).naturalTextWidth() : 0;
        q.horizontalScrollBar()->setValue(std::max(qCeil(end) - q.viewport()->width(), 0));
    }
}

// Makes the viewport of the received-bytes box one row high, in the middle of the box.
void LogView::Private::fitOneRow() {
    const int row = qCeil(QFontMetricsF(q.font()).lineSpacing()) + 1;
    const int spare = std::max(q.contentsRect().height() - row, 0);
    q.setViewportMargins(kOneLinePadding, spare / 2, kOneLinePadding + m_hiddenRight,
                         spare - spare / 2);
}

void LogView::setHiddenRight(int pixels) {
    d->m_hiddenRight = std::max(pixels, 0);
    if (d->m_mode == Mode::OneLine) {
        d->fitOneRow();
        d->scrollToEnd();
    }
}

// The numbers of the first and the last block in view.
std::pair<int, int> LogView::Private::visibleBlocks() const {
    QTextBlock block = q.firstVisibleBlock();
    if (!block.isValid()) {
        return {0, -1};
    }
    const int first = block.blockNumber();
    int last = first;
    qreal top = q.blockBoundingGeometry(block).translated(q.contentOffset()).top();
    while (block.isValid() && top <= q.viewport()->height()) {
        last = block.blockNumber();
        top += q.blockBoundingRect(block).height();
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
    const std::pair<int, int> painted = d->visibleBlocks();
    // A way into view that checked nothing (none is known): check now, and paint again.
    for (QTextBlock block = document()->findBlockByNumber(painted.first);
         block.isValid() && block.blockNumber() <= painted.second; block = block.next()) {
        if (LogDocument::isEstimated(block)) {
            QMetaObject::invokeMethod(
                this, [this] { d->checkShown(); }, Qt::QueuedConnection);
            break;
        }
    }
    if (painted == d->m_painted) {
        return;
    }
    for (int number = d->m_painted.first; number <= d->m_painted.second; ++number) {
        d->m_laidOut.append(number);
    }
    d->m_painted = painted;
    if (!d->m_retireQueued && d->m_stored.pending().isEmpty()) {
        d->m_retireQueued = true;
        QMetaObject::invokeMethod(
            this, [this] { d->retireWhenIdle(); }, Qt::QueuedConnection);
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
void LogView::Private::retireLayouts() {
    std::sort(m_laidOut.begin(), m_laidOut.end());
    m_laidOut.erase(std::unique(m_laidOut.begin(), m_laidOut.end()), m_laidOut.end());
    const auto [firstVisible, lastVisible] = visibleBlocks();
    const int keepFrom = q.blockCount() - kKeepLaidOut;
    // The caret's blocks keep theirs too: Qt works out where the caret stands after every change
    // of the document, laying out its block, wherever the caret is.
    const QTextCursor caret = q.textCursor();
    const int caretBlock = caret.blockNumber();
    const int anchorBlock = q.document()->findBlock(caret.anchor()).blockNumber();
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
    const QSignalBlocker quietDocument(q.document());
    const QSignalBlocker quietLayout(q.document()->documentLayout());
    QTextCursor cursor(q.document());
    for (const int number : std::as_const(m_laidOut)) {
        if (number < 0 || number >= q.blockCount()) {
            continue;
        }
        if (number >= keepFrom || (number >= firstVisible && number <= lastVisible) ||
            number == caretBlock || number == anchorBlock) {
            kept.append(number);
            continue;
        }
        const QTextBlock block = q.document()->findBlockByNumber(number);
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
        QTextBlock made = q.document()->findBlockByNumber(block.number);
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
void LogView::Private::joinRowsOutOfView() {
    const QTextBlock last = q.document()->lastBlock();
    QTextBlock start = last;
    qsizetype small = 0;
    for (QTextBlock block = last.previous();
         block.isValid() && LogDocument::isContinuation(block.next()) &&
         block.length() - 1 < LogDocument::kBlockTarget / 2;
         block = block.previous()) {
        start = block;
        small += block.length() - 1;
    }
    if (small < LogDocument::kBlockTarget || start == last) {
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
    const QSignalBlocker quietDocument(q.document());
    m_stored.editQuietly([&] {
        QTextBlock block = start;
        while (block.isValid() && block.blockNumber() < lastNumber - joined - 1) {
            const QTextBlock next = block.next();
            const bool fits = block.length() + next.length() - 2 <= LogDocument::kBlockTarget;
            if (inView(block) || inView(next) || !fits) {
                block = next;
                continue;
            }
            const int lines = block.lineCount() + next.lineCount();
            const int at = block.position();
            joinedBefore += block.blockNumber() < firstVisible ? 1 : 0;
            m_stored.removeSeparator(next.position() - 1);
            block = q.document()->findBlock(at);
            block.setLineCount(m_aligner.wraps() ? lines : 1);
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
void LogView::Private::retireWhenIdle() {
    m_retireQueued = false;
    if (q.document()->isUndoAvailable() || q.document()->isRedoAvailable() ||
        !m_stored.pending().isEmpty()) {
        return;
    }
    const ProgrammaticChange change(*this);
    retireLayouts();
}

void LogView::scrollContentsBy(int dx, int dy) {
    d->noteBlocksNearTop();
    QPlainTextEdit::scrollContentsBy(dx, dy);
}

// Scrolling, QPlainTextEdit works out how far the old top row moved by laying out the blocks from
// the old top block towards the new one, until twice the view's height lies between them
// (QPlainTextEditControl::blockBoundingRect). After a large append or a long jump those are
// blocks nobody sees; noted here, their layouts go as the others' do.
void LogView::Private::noteBlocksNearTop() {
    const qreal rowHeight = q.fontMetrics().lineSpacing();
    const qreal reach = 2 * q.viewport()->height();
    const QTextBlock top = q.firstVisibleBlock();
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
    if (d->m_mode == Mode::OneLine) {
        d->fitOneRow();
    }
    d->m_relayout = true;
    QPlainTextEdit::resizeEvent(event);
    d->m_relayout = false;
    if (d->m_aligner.measureRowWidth()) {
        d->realignAll();
    }
    if (d->m_mode == Mode::OneLine) {
        d->scrollToEnd();
    }
}

void LogView::showEvent(QShowEvent* event) {
    d->m_relayout = true;
    QPlainTextEdit::showEvent(event);
    d->m_relayout = false;
    d->flushPending();
    d->checkShown();
}

void LogView::changeEvent(QEvent* event) {
    d->m_relayout = true;
    QPlainTextEdit::changeEvent(event);
    d->m_relayout = false;
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ApplicationFontChange) {
        if (d->m_mode == Mode::OneLine) {
            d->fitOneRow();
        }
        d->m_aligner.measureRowWidth();
        d->realignAll();
    }
}

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// LogView is the text box of the work area and of the received-bytes box. Both grow for as long
// as the board sends, and every reply byte joins the same line, so one line can reach millions
// of characters. Qt's text widgets lay out a whole paragraph again on every change, so each new
// byte would cost more than the one before; in LogView a change costs what it adds, whatever the
// box and the line already hold.
//
// How the text is held: a QTextDocument of blocks of about a thousand characters.
//   - A line break of the text (CR LF) is stored as U+2028 LINE SEPARATOR inside a block, so
//     short lines share blocks. Where a block boundary falls on a line break, the boundary
//     itself is the break.
//   - A long line is cut into blocks by display-only breaks: block separators whose character
//     format carries a continuation mark. text(), the end operations and whatever is copied,
//     cut or dragged out of the box leave them out.
//   - Every display-only break the operator sees stands at the start of a wrapped row. Qt wraps
//     greedily, so a block that starts where a row of the whole line starts wraps exactly as that
//     line does: the rows on screen are those of the one long paragraph. Appends cut the growing
//     last block where its last row is estimated to start, from the advances of its characters,
//     without laying it out (laying out every character would cost more than everything else an
//     append does); before blocks are painted, the breaks between them are checked against their
//     layouts and moved to row starts where the estimate was off. After an edit, the breaks
//     behind it are moved back to row starts (a bounded amount of work per edit; later appends
//     finish the rest).
//   - The marks sit on the separators themselves, so Qt's undo and redo restore them exactly,
//     and edits that delete a separator delete its mark with it.
//   - Appended text waits in a buffer and reaches the document at most once per frame (sooner
//     when a flood piles much of it up), and not at all while the box is hidden; the layouts of
//     blocks out of view are dropped. All boxes share one frame clock, so that the boxes the
//     same bytes went to flush together and the window paints them in one pass.
//
// text() and setText() are the box's text; QPlainTextEdit's own plain-text functions are hidden.
// Programmatic changes clear the undo history, as in a classic edit box, so that it never grows
// with the log.

#include <QElapsedTimer>
#include <QList>
#include <QPlainTextEdit>
#include <QPoint>
#include <QString>
#include <QStringView>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <utility>

#include "ui/row_estimate.h"

class QMimeData;

namespace ui {

class LogView : public QPlainTextEdit {
    Q_OBJECT

public:
    enum class Mode : std::uint8_t {
        // The work area: a vertical scroll bar; Enter breaks the line; the view follows the end
        // unless the operator has scrolled away from it.
        MultiLine,
        // The received-bytes box: one row, not wrapped, no scroll bars; Return and Enter insert
        // nothing and pasted line breaks become spaces; the row always shows the end of the text,
        // as a one-line box does after its text is set (the caret stays where it was).
        OneLine,
    };

    explicit LogView(Mode mode, QWidget* parent = nullptr);

    Mode mode() const { return m_mode; }

    // The whole text, line breaks as CR LF.
    QString text() const;
    // Replaces the whole text. CR LF, a lone CR, a lone LF, U+2028 and U+2029 each become one
    // CR LF break; U+FDD0 and U+FDD1, which Qt's text document keeps for itself, become U+FFFD.
    void setText(const QString& text);
    // The edits at the ends of the text, as the window's toolkit defines them: appendText(t) is
    // setText(text() + t); textStart and textEnd return the first or last `count` characters;
    // removeStart and removeEnd remove them, and a count that ends inside a CR LF break removes
    // the whole break. Their cost depends on `count` or on the size of `text`, not on the text
    // the box holds.
    void appendText(QStringView text);
    QString textStart(qsizetype count) const;
    QString textEnd(qsizetype count) const;
    void removeStart(qsizetype count);
    void removeEnd(qsizetype count);
    // Whether appended text waits to reach the document, at the end of the frame; benchmarks ask
    // it to tell when everything appended is on the screen.
    bool hasPendingText() const { return !pending().isEmpty(); }

protected:
    bool event(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    class ProgrammaticChange;

    // The box's text is text() and setText(). QPlainTextEdit's own functions would read or write
    // the stored form, display-only breaks included, and miss appended text not yet shown.
    using QPlainTextEdit::appendHtml;
    using QPlainTextEdit::appendPlainText;
    using QPlainTextEdit::clear;
    using QPlainTextEdit::insertPlainText;
    using QPlainTextEdit::setDocument;
    using QPlainTextEdit::setPlainText;
    using QPlainTextEdit::toPlainText;

    // Appended text not yet in the document, with CR LF breaks; its first m_pendingStart
    // characters are already removed.
    QStringView pending() const;
    void dropPendingStart(qsizetype count);
    void dropPendingEnd(qsizetype count);
    void clearPending();
    QStringView pendingAsStored();
    void scheduleFlush();
    void flushPending();

    // Building blocks of the stored form.
    QTextLayout* laidOut(QTextBlock block);
    QTextLayout* shownLayout(const QTextBlock& block);
    bool wraps() const;
    void measureRowWidth();
    bool rowBreaksAt(const QString& text, qsizetype position) const;
    void insertBounded(QTextCursor& cursor, QStringView text);
    void cutBefore(const QTextCursor& cursor);
    bool cutAtEstimatedRow(const QTextCursor& cursor);
    void keepLastBlockShort();
    int cutAtRow(const QTextBlock& block, const QTextLayout& layout, int line);
    int cutAt(int position);
    void replaceWithBreak(int from, int length);
    void removeSeparator(int position);
    QString textBetween(int from, int to) const;

    // Keeping display-only breaks at row starts.
    QTextBlock repairFrom(QTextBlock block, int until, qsizetype& budget);
    bool repairJoin(const QTextBlock& block, const QTextBlock& next);
    bool cutNearTarget(const QTextBlock& block);
    bool startsRow(const QTextBlock& block, int lastRow, const QTextBlock& next,
                   const QTextLayout& nextLayout) const;
    void repairRange(int from, int to, qsizetype budget);
    void payDebts(qsizetype budget);
    void realignAll();
    void checkShown();

    // The operator's edits.
    enum class KeyEdit : std::uint8_t {
        Type,
        LineBreak,
        DeletePrevious,
        DeleteNext,
        DeleteWordBefore,
        DeleteWordAfter,
        DeleteToLineEnd,
    };
    static std::optional<KeyEdit> keyEdit(const QKeyEvent* event);
    bool editTouchesBreaks(KeyEdit edit, const QString& typed) const;
    void editByKey(KeyEdit edit, const QString& typed);
    void noteEdit(int from, int charsRemoved, int charsAdded);
    void repairEdits();
    void stepOverBreak(const QKeyEvent* event);
    int lineStart(int position) const;
    int lineEnd(int position) const;
    int afterLineBreak(int position) const;
    void selectLine(int position);
    QString lineBreakText() const;

    // The view.
    bool followsEnd() const;
    void scrollToEnd();
    void fitOneRow();
    std::pair<int, int> visibleBlocks() const;
    void retireLayouts();
    void noteBlocksNearTop();
    void joinRowsOutOfView();
    void retireWhenIdle();

    Mode m_mode = Mode::MultiLine;
    QString m_pending;
    qsizetype m_pendingStart = 0;
    int m_programmatic = 0;
    bool m_followEnd = true;
    bool m_relayout = false;
    qreal m_rowWidth = 0;
    // Where rows start, from the advances of characters in the box's font.
    RowEstimate m_rowEstimate;
    bool m_checking = false;
    // An edit LogView did not make itself, repaired from the event loop.
    bool m_dirty = false;
    QTextCursor m_dirtyStart;
    QTextCursor m_dirtyEnd;
    // Breaks not yet re-aligned after an edit: where the repair stopped.
    QList<QTextCursor> m_debts;
    // Numbers of blocks that may hold a layout, and the blocks painted last.
    QList<int> m_laidOut;
    std::pair<int, int> m_painted{0, -1};
    bool m_retireQueued = false;
    QElapsedTimer m_sinceDoubleClick;
    QPoint m_doubleClickPoint;
};

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QPlainTextEdit>
#include <QPoint>
#include <QString>
#include <QStringView>
#include <QTextCursor>
#include <cstdint>
#include <optional>
#include <utility>

#include "ui/log_document.h"
#include "ui/row_aligner.h"

class QMimeData;

namespace ui {

// The text box of the work area and of the received-bytes box: a change costs what it adds,
// whatever the box and its line already hold (how, in log_view.cpp). Programmatic changes clear
// the undo history, as in a classic edit box, so that it never grows with the log.
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
    // the box holds. Appended text reaches the screen on the next tick of the FrameClock.
    void appendText(QStringView text);
    QString textStart(qsizetype count) const;
    QString textEnd(qsizetype count) const;
    void removeStart(qsizetype count);
    void removeEnd(qsizetype count);
    // Whether appended text waits for the next frame; benchmarks ask it to tell when everything
    // appended is on the screen.
    bool hasPendingText() const;

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
    // The operator's edits LogView makes itself.
    enum class KeyEdit : std::uint8_t;

    // The box's text is text() and setText(): these would see the stored form.
    using QPlainTextEdit::appendHtml;
    using QPlainTextEdit::appendPlainText;
    using QPlainTextEdit::clear;
    using QPlainTextEdit::insertPlainText;
    using QPlainTextEdit::setDocument;
    using QPlainTextEdit::setPlainText;
    using QPlainTextEdit::toPlainText;

    void clearPending();
    void scheduleFlush();
    void flushPending();
    void realignAll();
    void checkShown();

    static std::optional<KeyEdit> keyEdit(const QKeyEvent* event);
    bool editTouchesBreaks(KeyEdit edit, const QString& typed) const;
    void editByKey(KeyEdit edit, const QString& typed);
    void noteEdit(int from, int charsRemoved, int charsAdded);
    void repairEdits();
    void stepOverBreak(const QKeyEvent* event);
    void selectLine(int position);
    QString lineBreakText() const;

    bool followsEnd() const;
    void scrollToEnd();
    void fitOneRow();
    QTextLayout* shownLayout(const QTextBlock& block);
    std::pair<int, int> visibleBlocks() const;
    void retireLayouts();
    void noteBlocksNearTop();
    void joinRowsOutOfView();
    void retireWhenIdle();

    Mode m_mode = Mode::MultiLine;
    LogDocument m_stored;
    RowAligner m_aligner;
    int m_programmatic = 0;
    bool m_followEnd = true;
    // Set while QPlainTextEdit lays the view out again, which moves the scroll bar.
    bool m_relayout = false;
    bool m_checking = false;
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

}  // namespace ui

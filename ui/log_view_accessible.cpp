// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/log_view_accessible.h"

#include <QFontMetrics>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>

#include "ui/log_document.h"
#include "ui/log_view.h"

namespace ui {

// The document holds the text's characters one for one, its line breaks as U+2028 or as block
// separators, one character each as in the accessible text, and the display-only breaks, which
// the accessible text leaves out. So an offset is a document position less the display-only
// breaks before it. Text appended but not yet in the document follows the document's end.

LogViewAccessible::LogViewAccessible(LogView* view)
    : QAccessibleWidget(view, QAccessible::EditableText) {}

LogView* LogViewAccessible::view() const {
    return static_cast<LogView*>(widget());
}

QAccessible::State LogViewAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.editable = !view()->isReadOnly();
    state.readOnly = view()->isReadOnly();
    state.multiLine = view()->mode() == LogView::Mode::MultiLine;
    state.selectableText = true;
    return state;
}

QString LogViewAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Value) {
        return accessibleText();
    }
    return QAccessibleWidget::text(t);
}

void* LogViewAccessible::interface_cast(QAccessible::InterfaceType t) {
    if (t == QAccessible::TextInterface) {
        return static_cast<QAccessibleTextInterface*>(this);
    }
    return QAccessibleWidget::interface_cast(t);
}

QString LogViewAccessible::accessibleText() const {
    QString text = view()->text();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

int LogViewAccessible::offsetOf(int position) const {
    int hidden = 0;
    for (QTextBlock block = view()->document()->begin();
         block.isValid() && block.position() <= position; block = block.next()) {
        if (LogDocument::isContinuation(block)) {
            ++hidden;
        }
    }
    return position - hidden;
}

// An offset at a display-only break is the start of the block behind it: the start of the row
// the break begins.
int LogViewAccessible::positionOf(int offset) const {
    const QTextDocument* document = view()->document();
    int hidden = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        if (LogDocument::isContinuation(block)) {
            ++hidden;
        }
        const int start = block.position() - hidden;
        const int end = start + block.length() - 1;
        const bool breakFollows = LogDocument::isContinuation(block.next());
        if (offset < end || (offset == end && !breakFollows)) {
            return block.position() + std::max(offset - start, 0);
        }
    }
    return document->characterCount() - 1;
}

void LogViewAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const {
    const QTextCursor cursor = view()->textCursor();
    if (selectionIndex != 0 || !cursor.hasSelection()) {
        *startOffset = 0;
        *endOffset = 0;
        return;
    }
    *startOffset = offsetOf(cursor.selectionStart());
    *endOffset = offsetOf(cursor.selectionEnd());
}

int LogViewAccessible::selectionCount() const {
    return view()->textCursor().hasSelection() ? 1 : 0;
}

void LogViewAccessible::addSelection(int startOffset, int endOffset) {
    setSelection(0, startOffset, endOffset);
}

void LogViewAccessible::removeSelection(int selectionIndex) {
    if (selectionIndex == 0) {
        QTextCursor cursor = view()->textCursor();
        cursor.clearSelection();
        view()->setTextCursor(cursor);
    }
}

void LogViewAccessible::setSelection(int selectionIndex, int startOffset, int endOffset) {
    if (selectionIndex != 0) {
        return;
    }
    QTextCursor cursor = view()->textCursor();
    cursor.setPosition(positionOf(startOffset));
    cursor.setPosition(positionOf(endOffset), QTextCursor::KeepAnchor);
    view()->setTextCursor(cursor);
}

int LogViewAccessible::cursorPosition() const {
    return offsetOf(view()->textCursor().position());
}

void LogViewAccessible::setCursorPosition(int position) {
    QTextCursor cursor = view()->textCursor();
    cursor.setPosition(positionOf(position));
    view()->setTextCursor(cursor);
}

QString LogViewAccessible::text(int startOffset, int endOffset) const {
    const QString text = accessibleText();
    const int start = std::clamp(startOffset, 0, static_cast<int>(text.size()));
    const int end = endOffset < 0 ? static_cast<int>(text.size())
                                  : std::clamp(endOffset, start, static_cast<int>(text.size()));
    return text.sliced(start, end - start);
}

int LogViewAccessible::characterCount() const {
    return static_cast<int>(accessibleText().size());
}

// The character's box on the screen: from the caret before it to the caret after it on the
// same row, or the character's advance where it ends its row. Text not yet in the document has
// no box yet.
QRect LogViewAccessible::characterRect(int offset) const {
    const QTextDocument* document = view()->document();
    const int position = positionOf(offset);
    if (offset < 0 || offset >= characterCount() || position >= document->characterCount() - 1) {
        return {};
    }
    QTextCursor cursor(view()->document());
    cursor.setPosition(position);
    const QRect before = view()->cursorRect(cursor);
    cursor.setPosition(position + 1);
    const QRect after = view()->cursorRect(cursor);
    const int width =
        after.top() == before.top() && after.left() > before.left()
            ? after.left() - before.left()
            : QFontMetrics(view()->font()).horizontalAdvance(document->characterAt(position));
    const QRect box(before.left(), before.top(), std::max(width, 1), before.height());
    return box.translated(view()->viewport()->mapToGlobal(QPoint(0, 0)));
}

int LogViewAccessible::offsetAtPoint(const QPoint& point) const {
    const QPoint local = view()->viewport()->mapFromGlobal(point);
    if (!view()->viewport()->rect().contains(local)) {
        return -1;
    }
    return offsetOf(view()->cursorForPosition(local).position());
}

void LogViewAccessible::scrollToSubstring(int startIndex, int endIndex) {
    QTextCursor cursor = view()->textCursor();
    cursor.setPosition(positionOf(endIndex));
    view()->setTextCursor(cursor);
    cursor.setPosition(positionOf(startIndex));
    view()->setTextCursor(cursor);
}

// The text is plain: one run without attributes.
QString LogViewAccessible::attributes(int offset, int* startOffset, int* endOffset) const {
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

}  // namespace ui

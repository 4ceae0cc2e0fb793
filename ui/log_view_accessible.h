// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a screen reader reads in a LogView: the box's true text, each line break (CR LF) one
// "\n", with offsets, lines, the caret and the selection counted in that text. Qt's own
// interface for a plain text edit would read the stored form instead, with its U+2028 line
// separators and the display-only breaks that cut long lines into blocks.

#include <QAccessibleTextInterface>
#include <QAccessibleWidget>

namespace ui {

class LogView;

class LogViewAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LogViewAccessible(LogView* view);

    QAccessible::State state() const override;
    QString text(QAccessible::Text t) const override;
    void* interface_cast(QAccessible::InterfaceType t) override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    LogView* view() const;
    QString accessibleText() const;
    // A position in the view's document to an offset in the accessible text, and back.
    int offsetOf(int position) const;
    int positionOf(int offset) const;
};

}  // namespace ui

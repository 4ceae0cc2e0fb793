// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>

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
    LogView(const LogView&) = delete;
    LogView& operator=(const LogView&) = delete;
    ~LogView() override;

    Mode mode() const;

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
    // The received-bytes box: how many pixels at its right edge the parent widget hides. The row
    // ends before them, so that the newest text stays in view.
    void setHiddenRight(int pixels);

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

public:
    class Private;

private:
    // The box's text is text() and setText(): these would see the stored form.
    using QPlainTextEdit::appendHtml, QPlainTextEdit::appendPlainText, QPlainTextEdit::clear,
        QPlainTextEdit::insertPlainText, QPlainTextEdit::setDocument, QPlainTextEdit::setPlainText,
        QPlainTextEdit::toPlainText;

    std::unique_ptr<Private> d;
};

}  // namespace ui

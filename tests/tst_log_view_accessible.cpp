// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader reads in a LogView, through QAccessible: the true text with each CR LF
// one "\n", however the box stores it (line separators, display-only breaks between the blocks
// of a long line), with lines, offsets, the caret and the selection counted in that text; a
// selection made through the interface copies exactly the characters it names.

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <memory>

#include "ui/accessible.h"
#include "ui/log_document.h"
#include "ui/log_view.h"

using ui::LogView;

namespace {

// " 00 01 02 ..." as the receive handler appends received bytes.
QString receivedBytes(int count) {
    QString text;
    for (int i = 0; i < count; ++i) {
        text += QStringLiteral(" %1").arg(i % 256, 2, 16, QChar(u'0')).toUpper();
    }
    return text;
}

QString asRead(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

int displayOnlyBreaks(const LogView& view) {
    int count = 0;
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
        count += ui::LogDocument::isContinuation(block) ? 1 : 0;
    }
    return count;
}

struct Box {
    std::unique_ptr<LogView> view;
    QAccessibleInterface* accessible = nullptr;
    QAccessibleTextInterface* text = nullptr;
};

Box shownBox(LogView::Mode mode, const QString& text) {
    Box box;
    box.view = std::make_unique<LogView>(mode);
    box.view->resize(mode == LogView::Mode::MultiLine ? QSize(465, 125) : QSize(81, 41));
    box.view->show();
    box.view->setText(text);
    box.accessible = QAccessible::queryAccessibleInterface(box.view.get());
    box.text = box.accessible != nullptr ? box.accessible->textInterface() : nullptr;
    return box;
}

// The text a selection through the interface copies, line breaks as read.
QString copiedSelection(Box& box, int start, int end) {
    box.text->setSelection(0, start, end);
    box.view->copy();
    return asRead(QGuiApplication::clipboard()->text());
}

}  // namespace

class TestLogViewAccessible : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { ui::installAccessibleInterfaces(); }

    void readsTheTrueText_data() {
        QTest::addColumn<LogView::Mode>("mode");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("cutIntoBlocks");
        const QString notice = QStringLiteral("亲，\r\n第二行\r\n\r\n第四行\r\n");
        QTest::newRow("short lines") << LogView::Mode::MultiLine << notice << false;
        QTest::newRow("a 6,000-byte reply on one line")
            << LogView::Mode::MultiLine
            << notice + QStringLiteral("发出数据:A0 01 03 A4\r\n-->收到数据:") +
                   receivedBytes(6000) + QStringLiteral("\r\n发出数据:A0 01 02 A3")
            << true;
        QTest::newRow("empty") << LogView::Mode::MultiLine << QString() << false;
        QTest::newRow("received-bytes box")
            << LogView::Mode::OneLine << QStringLiteral("Text4") + receivedBytes(6000) << true;
    }

    void readsTheTrueText() {
        QFETCH(LogView::Mode, mode);
        QFETCH(QString, text);
        QFETCH(bool, cutIntoBlocks);
        Box box = shownBox(mode, text);
        QVERIFY(box.text != nullptr);
        QCOMPARE(displayOnlyBreaks(*box.view) > 0, cutIntoBlocks);
        const QString read = asRead(box.view->text());
        QCOMPARE(box.text->characterCount(), read.size());
        QCOMPARE(box.text->text(0, box.text->characterCount()), read);
        QCOMPARE(box.accessible->text(QAccessible::Value), read);
        QVERIFY(!box.text->text(0, box.text->characterCount()).contains(QChar::LineSeparator));
        QCOMPARE(box.accessible->role(), QAccessible::EditableText);
        QCOMPARE(box.accessible->state().multiLine, mode == LogView::Mode::MultiLine);

        // Line by line, as a screen reader walks it: exactly the lines of the text.
        QStringList lines;
        for (int offset = 0; offset < read.size();) {
            int start = -1;
            int end = -1;
            lines << box.text->textAtOffset(offset, QAccessible::LineBoundary, &start, &end);
            QCOMPARE(start, offset);
            QVERIFY(end > offset);
            offset = end;
        }
        QCOMPARE(lines.join(QString()), read);
        QCOMPARE(lines.size(),
                 read.isEmpty() ? 0 : read.count(u'\n') + (read.endsWith(u'\n') ? 0 : 1));
    }

    // The caret and selections, through the interface, land on the characters their offsets
    // name in the true text, on each side of every display-only break too.
    void offsetsNameTheTrueCharacters() {
        const QString text = QStringLiteral("亲，\r\n-->收到数据:") + receivedBytes(6000) +
                             QStringLiteral("\r\n发出数据:A0 01 02 A3\r\n");
        Box box = shownBox(LogView::Mode::MultiLine, text);
        QVERIFY(box.text != nullptr);
        const QString read = asRead(text);
        QList<int> offsets{0, 1, 2, 3, static_cast<int>(read.size()) - 1};
        // Around every display-only break: the offsets of the characters before and after it.
        int hidden = 0;
        for (QTextBlock block = box.view->document()->begin(); block.isValid();
             block = block.next()) {
            if (ui::LogDocument::isContinuation(block)) {
                ++hidden;
                const int at = block.position() - hidden;
                offsets << at - 1 << at << at + 1;
            }
        }
        QVERIFY(hidden > 5);
        for (const int offset : offsets) {
            box.text->setCursorPosition(offset);
            QCOMPARE(box.text->cursorPosition(), offset);
            QCOMPARE(copiedSelection(box, offset, offset + 1), read.mid(offset, 1));
            int start = -1;
            int end = -1;
            box.text->selection(0, &start, &end);
            QCOMPARE(std::pair(start, end), std::pair(offset, offset + 1));
        }
        QCOMPARE(copiedSelection(box, 0, static_cast<int>(read.size())), read);
        QCOMPARE(box.text->selectionCount(), 1);
        box.text->removeSelection(0);
        QCOMPARE(box.text->selectionCount(), 0);
    }

    // A character's box on the screen is where it is drawn: the point in its middle names it.
    void characterBoxesMatchPoints() {
        const QString text = QStringLiteral("亲，\r\n-->收到数据:") + receivedBytes(200);
        Box box = shownBox(LogView::Mode::MultiLine, text);
        QVERIFY(QTest::qWaitForWindowExposed(box.view.get()));
        const QString read = asRead(text);
        for (const int offset : {0, 1, 5, 100, 300, static_cast<int>(read.size()) - 1}) {
            const QRect rect = box.text->characterRect(offset);
            QVERIFY2(rect.isValid(), qPrintable(QString::number(offset)));
            const QPoint local = box.view->viewport()->mapFromGlobal(rect.center());
            if (box.view->viewport()->rect().contains(local)) {
                QCOMPARE(box.text->offsetAtPoint(rect.center()), offset);
            }
        }
        QCOMPARE(box.text->characterRect(static_cast<int>(read.size())), QRect());
    }
};

QTEST_MAIN(TestLogViewAccessible)
#include "tst_log_view_accessible.moc"

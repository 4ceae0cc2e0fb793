// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractTextDocumentLayout>
#include <QChar>
#include <QSignalBlocker>
#include <QString>
#include <QStringView>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <utility>

namespace ui {

// LogView's text in its stored form, free of widgets: the QTextDocument the box shows and the
// appended text that has not reached it yet. A line break of the text (CR LF) is stored as
// U+2028 inside a block or as a block boundary; a long line is cut into blocks by display-only
// breaks, block separators whose character format carries a continuation mark. Here the text is
// read and edited as the caller sees it, line breaks as CR LF and display-only breaks left out;
// where the breaks stand is the row aligner's business.
class LogDocument {
public:
    // A CR LF break of the text, stored inside a block.
    static constexpr QChar kStoredBreak = QChar::LineSeparator;
    // Appends fill blocks to about this many characters; edits may grow one to kBlockLimit.
    static constexpr int kBlockTarget = 1024;
    static constexpr int kBlockLimit = 4 * kBlockTarget;

    explicit LogDocument(QTextDocument* document) : m_document(document) {}

    // The text, or its first or last `count` characters, or the text between two positions.
    QString text() const;
    QString textStart(qsizetype count) const;
    QString textEnd(qsizetype count) const;
    QString textBetween(int from, int to) const;
    // Where removing the first or last `count` characters of the document's text cuts it, a
    // count that ends inside a CR LF break taking the whole break; `count` keeps what is left
    // for the pending text behind.
    int startCut(qsizetype& count) const;
    int endCut(qsizetype count) const;

    // Appended text not yet in the document, with CR LF breaks.
    QStringView pending() const;
    void appendPending(QStringView text);
    void dropPendingStart(qsizetype count);
    void dropPendingEnd(qsizetype count);
    void clearPending();
    // The pending text in the stored form, converted where it stands.
    QStringView pendingAsStored();

    // Breaks the block at `position`; returns where the block after the break starts.
    int cutAt(int position);
    void replaceWithBreak(int from, int length);
    void removeSeparator(int position);
    // The line around `position`, across display-only breaks, and the position behind its break.
    int lineStart(int position) const;
    int lineEnd(int position) const;
    int afterLineBreak(int position) const;

    // Whether the separator before `block` is a display-only break.
    static bool isContinuation(const QTextBlock& block);
    // Whether that break stands where rows were estimated to start, not yet checked.
    static bool isEstimated(const QTextBlock& block);
    static void setEstimated(QTextBlock block, bool estimated);
    // `text` with each line break (CR LF, CR, LF, U+2028, U+2029) as `lineBreak`, and the two
    // characters the document keeps for itself (U+FDD0, U+FDD1) as U+FFFD.
    static QString withLineBreaks(QStringView text, QStringView lineBreak);

    // Runs `change` as one edit of the document whose layout hears of it once, at its end:
    // blocks laid out on the way notify nobody.
    template <typename Change>
    void editQuietly(Change change) {
        QTextCursor group(m_document);
        group.beginEditBlock();
        {
            const QSignalBlocker quiet(m_document->documentLayout());
            change();
        }
        group.endEditBlock();
    }

private:
    QTextDocument* m_document;
    // Its first m_pendingStart characters are already removed.
    QString m_pending;
    qsizetype m_pendingStart = 0;
};

}  // namespace ui

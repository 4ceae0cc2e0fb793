// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/log_document.h"

#include <QTextCharFormat>
#include <algorithm>

namespace ui {

namespace {

constexpr QStringView kCrLf = u"\r\n";
// The character format property that makes a block separator a display-only break.
constexpr int kContinuationMark = QTextFormat::UserProperty + 1;
// The user state of a block whose display-only break in front of it stands where rows were
// estimated to start, not yet checked against a layout (QTextBlock's default state is -1).
constexpr int kEstimatedBreak = 1;
// Pending text buffers up to this size are kept between frames.
constexpr qsizetype kKeptPending = qsizetype{1} << 20;
// The end reads read pieces up to this size character by character.
constexpr qsizetype kShortPiece = 64;
constexpr QChar kStoredBreak = LogDocument::kStoredBreak;

QTextCharFormat separatorFormat(bool continuation) {
    QTextCharFormat format;
    if (continuation) {
        format.setProperty(kContinuationMark, true);
    }
    return format;
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
    if (block.position() > 0 && !LogDocument::isContinuation(block)) {
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
    if (fromStart && block.position() > 0 && !LogDocument::isContinuation(block)) {
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

}  // namespace

// The first block has no display-only break in front: its character format is the document's
// initial one.
bool LogDocument::isContinuation(const QTextBlock& block) {
    return block.isValid() && block.charFormat().boolProperty(kContinuationMark);
}

bool LogDocument::isEstimated(const QTextBlock& block) {
    return block.userState() == kEstimatedBreak;
}

void LogDocument::setEstimated(QTextBlock block, bool estimated) {
    block.setUserState(estimated ? kEstimatedBreak : -1);
}

QString LogDocument::withLineBreaks(QStringView text, QStringView lineBreak) {
    QString result;
    result.reserve(text.size());
    appendWithLineBreaks(result, text, lineBreak);
    return result;
}

QString LogDocument::text() const {
    QString result;
    result.reserve(m_document->characterCount() + pending().size());
    for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
        appendBlock(result, block);
    }
    result += pending();
    return result;
}

QString LogDocument::textStart(qsizetype count) const {
    QString result;
    for (QTextBlock block = m_document->begin(); block.isValid() && result.size() < count;
         block = block.next()) {
        result += blockPiece(block, count - result.size(), true);
    }
    if (result.size() < count) {
        result += pending().first(std::min(pending().size(), count - result.size()));
    }
    return result;
}

QString LogDocument::textEnd(qsizetype count) const {
    if (count <= 0) {
        return {};
    }
    if (pending().size() >= count) {
        return pending().last(count).toString();
    }
    // Pieces from the end, each block's with the break in front of it once it is whole.
    QList<QString> pieces;
    qsizetype gathered = pending().size();
    for (QTextBlock block = m_document->lastBlock(); block.isValid() && gathered < count;
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

// The text between two document positions, as the caller sees it.
QString LogDocument::textBetween(int from, int to) const {
    QString result;
    for (QTextBlock block = m_document->findBlock(from); block.isValid() && block.position() <= to;
         block = block.next()) {
        if (block.position() > from && !LogDocument::isContinuation(block)) {
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

int LogDocument::startCut(qsizetype& count) const {
    // Walk from the start: `count` characters of the text are still to go, `cut` is the
    // document position up to which they are gone.
    int cut = 0;
    for (QTextBlock block = m_document->begin(); block.isValid();) {
        const QString stored = block.text();
        qsizetype i = 0;
        while (i < stored.size() && count > 0) {
            count -= stored[i] == kStoredBreak ? 2 : 1;
            ++i;
        }
        cut = block.position() + static_cast<int>(i);
        const QTextBlock next = block.next();
        if (i < stored.size() || !next.isValid()) {
            break;
        }
        if (!LogDocument::isContinuation(next)) {
            if (count <= 0) {
                break;  // the count ends right before a CR LF break, which stays
            }
            count -= 2;
            if (count <= 0) {
                cut = next.position();  // the count ends at or inside the break
                break;
            }
        }
        // A display-only break goes with the text in front of it.
        block = next;
    }
    return cut;
}

int LogDocument::endCut(qsizetype count) const {
    const int end = m_document->characterCount() - 1;
    int cut = end;
    for (QTextBlock block = m_document->lastBlock(); block.isValid();) {
        const QString stored = block.text();
        qsizetype i = stored.size();
        while (i > 0 && count > 0) {
            count -= stored[i - 1] == kStoredBreak ? 2 : 1;
            --i;
        }
        cut = block.position() + static_cast<int>(i);
        const QTextBlock previous = block.previous();
        if (i > 0 || !previous.isValid()) {
            break;
        }
        if (count <= 0 && !LogDocument::isContinuation(block)) {
            break;  // the text now ends with the CR LF break in front of this block
        }
        // The block is empty now: its separator goes too, and with a real break the count
        // takes its two characters (or ends inside them).
        cut = block.position() - 1;
        if (!LogDocument::isContinuation(block)) {
            count -= 2;
        }
        if (count <= 0) {
            break;
        }
        block = previous;
    }
    return cut;
}

QStringView LogDocument::pending() const {
    return QStringView(m_pending).sliced(m_pendingStart);
}

void LogDocument::appendPending(QStringView text) {
    appendWithLineBreaks(m_pending, text, kCrLf);
}

void LogDocument::dropPendingStart(qsizetype count) {
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

void LogDocument::dropPendingEnd(qsizetype count) {
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
void LogDocument::clearPending() {
    if (m_pending.capacity() > kKeptPending) {
        m_pending = QString();
    } else {
        m_pending.truncate(0);
    }
    m_pendingStart = 0;
}

// The pending text in the stored form, converted where it stands (it only gets shorter): a CR LF
// break becomes one stored break. Pending text holds CR only as part of CR LF.
QStringView LogDocument::pendingAsStored() {
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

// Breaks the block at `position`, inside it, and returns where the block after the break
// starts. Next to a stored break, that break becomes the block boundary; elsewhere the boundary
// is a display-only break.
int LogDocument::cutAt(int position) {
    if (m_document->characterAt(position - 1) == kStoredBreak) {
        replaceWithBreak(position - 1, 1);
        return position;
    }
    if (m_document->characterAt(position) == kStoredBreak) {
        replaceWithBreak(position, 1);
        return position + 1;
    }
    QTextCursor cursor(m_document);
    cursor.setPosition(position);
    cursor.insertBlock(QTextBlockFormat(), separatorFormat(true));
    return position + 1;
}

// Replaces `length` characters at `from` (stored breaks and display-only breaks) by one CR LF
// break between blocks.
void LogDocument::replaceWithBreak(int from, int length) {
    QTextCursor cursor(m_document);
    cursor.setPosition(from);
    cursor.setPosition(from + length, QTextCursor::KeepAnchor);
    cursor.insertBlock(QTextBlockFormat(), separatorFormat(false));
}

void LogDocument::removeSeparator(int position) {
    QTextCursor cursor(m_document);
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

// Where the line around `position` starts and ends, across display-only breaks.
int LogDocument::lineStart(int position) const {
    QTextBlock block = m_document->findBlock(position);
    int offset = position - block.position();
    while (true) {
        const qsizetype stored = QStringView(block.text()).first(offset).lastIndexOf(kStoredBreak);
        if (stored >= 0) {
            return block.position() + static_cast<int>(stored) + 1;
        }
        if (!LogDocument::isContinuation(block)) {
            return block.position();
        }
        block = block.previous();
        offset = block.length() - 1;
    }
}

int LogDocument::lineEnd(int position) const {
    QTextBlock block = m_document->findBlock(position);
    int offset = position - block.position();
    while (true) {
        const qsizetype stored = block.text().indexOf(kStoredBreak, offset);
        if (stored >= 0) {
            return block.position() + static_cast<int>(stored);
        }
        if (!LogDocument::isContinuation(block.next())) {
            return block.position() + block.length() - 1;
        }
        block = block.next();
        offset = 0;
    }
}

// The position behind the line break at `position`, which lineEnd() returned.
int LogDocument::afterLineBreak(int position) const {
    return std::min(position + 1, m_document->characterCount() - 1);
}

}  // namespace ui

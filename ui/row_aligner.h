// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>
#include <functional>

#include "ui/log_document.h"
#include "ui/row_estimate.h"

class QPaintDevice;

namespace ui {

// Keeps LogView's display-only breaks at the starts of wrapped rows, so that the blocks of a long
// line wrap as the one paragraph would. Appends cut where rows are estimated to start
// (RowEstimate); the repair lays blocks out and moves a break that stands inside a row back to
// the row's start, a bounded amount of work at a time, leaving debts for later appends. Block
// layouts it makes are reported to `noteLayout`, which drops them once out of view.
class RowAligner {
public:
    // Characters laid out to re-align the breaks behind one edit, and during one flush.
    static constexpr qsizetype kEditBudget = qsizetype{256} * 1024;
    static constexpr qsizetype kFlushBudget = qsizetype{4} * LogDocument::kBlockTarget;

    RowAligner(LogDocument& stored, QTextDocument* document, const QPaintDevice* device,
               bool wrapping, std::function<void(int)> noteLayout);

    // Whether rows wrap, at the width the document layout gives them.
    bool wraps() const;
    // Reads the row width from a laid-out row again, after a change of width or font; returns
    // whether it changed.
    bool measureRowWidth();
    // The block laid out anew (inside an edit, its layout may be one of older text).
    QTextLayout* laidOut(QTextBlock block);

    // Inserts stored text at `cursor`, cutting blocks that outgrow kBlockTarget where a row
    // starts; cutAtEstimatedRow leaves the growing last block one row long, keepLastBlockShort a
    // few rows' width where nothing wraps.
    void insertBounded(QTextCursor& cursor, QStringView text);
    bool cutAtEstimatedRow(const QTextCursor& cursor);
    void keepLastBlockShort();

    // Whether the break in front of `next` starts a row, `lastRow` being where the last row of
    // `block` starts.
    bool startsRow(const QTextBlock& block, int lastRow, const QTextBlock& next,
                   const QTextLayout& nextLayout) const;
    // Repairs the breaks from `block` on (every one up to `until`, then up to one that needed
    // nothing); returns the block to resume at once `budget` is spent, else an invalid block.
    QTextBlock repairFrom(QTextBlock block, int until, qsizetype& budget);
    // The same from the block before `from`, leaving what the budget did not reach as a debt.
    void repairRange(int from, int to, qsizetype budget);
    void repair(const QTextBlock& from, int until, qsizetype budget);
    void payDebts(qsizetype budget);
    // After the start of the text went: the first line's rows start elsewhere now.
    void repairStart();
    void clearDebts() { m_debts.clear(); }
    // Repairs every break, and lays every block out so that each counts its rows.
    void realignAll();

private:
    bool rowBreaksAt(const QString& text, qsizetype position) const;
    void cutBefore(const QTextCursor& cursor);
    int cutAtRow(const QTextBlock& block, const QTextLayout& layout, int line);
    bool repairJoin(const QTextBlock& block, const QTextBlock& next);
    bool cutNearTarget(const QTextBlock& block);
    void addDebt(const QTextBlock& resume);

    LogDocument& m_stored;
    QTextDocument* m_document;
    const QPaintDevice* m_device;
    bool m_wrapping;
    std::function<void(int)> m_noteLayout;
    qreal m_rowWidth = 0;
    // Where rows start, from the advances of characters in the document's font.
    RowEstimate m_rowEstimate;
    // Breaks not yet re-aligned after an edit: where the repair stopped.
    QList<QTextCursor> m_debts;
};

}  // namespace ui

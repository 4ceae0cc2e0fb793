// SPDX-License-Identifier: GPL-3.0-or-later
#include <QList>
#include <QString>
#include <QTest>

#include "ui/row_estimate.h"

using ui::RowEstimate;

namespace {

// A monospaced font whose wide characters take two cells.
qreal cells(char32_t c) {
    return RowEstimate::isWide(c) ? 2 : 1;
}

}  // namespace

class TestRowEstimate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void rowStarts_data() {
        QTest::addColumn<qreal>("rowWidth");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("starts");
        QTest::newRow("empty") << 10.0 << QString() << QList<int>{};
        QTest::newRow("fits in one row") << 10.0 << QStringLiteral("abc def") << QList<int>{};
        QTest::newRow("fills one row exactly") << 7.0 << QStringLiteral("abc def") << QList<int>{};
        QTest::newRow("breaks after a space") << 5.0 << QStringLiteral("abc def") << QList<int>{4};
        QTest::newRow("spaces hang past the row's end")
            << 4.0 << QStringLiteral("ab  cd") << QList<int>{4};
        QTest::newRow("two spaces fill a row exactly")
            << 5.0 << QStringLiteral("ab  c") << QList<int>{};
        QTest::newRow("three spaces fill a row exactly")
            << 6.0 << QStringLiteral("ab   c") << QList<int>{};
        QTest::newRow("a word wider than a row breaks where it overflows")
            << 3.0 << QStringLiteral("abcdefgh") << QList<int>{3, 6};
        QTest::newRow("a long word starts a row of its own first")
            << 4.0 << QStringLiteral("a bcdefgh") << QList<int>{2, 6};
        QTest::newRow("a fractional row width") << 2.5 << QStringLiteral("abc") << QList<int>{2};
        QTest::newRow("a line separator starts a row")
            << 10.0 << QStringLiteral("ab\u2028cd") << QList<int>{3};
        QTest::newRow("a line separator after a full row")
            << 2.0 << QStringLiteral("ab\u2028cd") << QList<int>{3};
        QTest::newRow("received bytes") << 9.0 << QStringLiteral(" 03 A4 FF 01") << QList<int>{10};
        QTest::newRow("received bytes over several rows")
            << 6.0 << QStringLiteral(" 03 A4 FF 01 02") << QList<int>{7, 13};
        QTest::newRow("between wide characters")
            << 4.0 << QStringLiteral("中文字") << QList<int>{2};
        QTest::newRow("before a wide character after Latin")
            << 3.0 << QStringLiteral("ab中") << QList<int>{2};
        QTest::newRow("a wide character after a Latin word on the row")
            << 5.0 << QStringLiteral("x ab中") << QList<int>{4};
        QTest::newRow("closing punctuation keeps to the character before it")
            << 4.0 << QStringLiteral("中文。") << QList<int>{1};
        QTest::newRow("a surrogate pair is one character")
            << 4.0 << QStringLiteral("\U00020000\U00020000\U00020000") << QList<int>{4};
    }

    void rowStarts() {
        QFETCH(qreal, rowWidth);
        QFETCH(QString, text);
        QFETCH(QList<int>, starts);
        RowEstimate estimate(cells);
        QCOMPARE(estimate.rowStarts(text, rowWidth), starts);
    }

    // Each character is measured once, until the font changes.
    void measuresEachCharacterOnce() {
        QList<char32_t> measured;
        RowEstimate estimate([&measured](char32_t c) {
            measured.append(c);
            return cells(c);
        });
        const QString text = QStringLiteral("abab中中\U00020000");
        estimate.rowStarts(text, 3);
        estimate.rowStarts(text, 5);
        QCOMPARE(measured, (QList<char32_t>{U'a', U'b', U'中', U'\U00020000'}));

        estimate.forgetAdvances();
        estimate.rowStarts(QStringLiteral("a中"), 3);
        QCOMPARE(measured.size(), 6);
    }
};

QTEST_MAIN(TestRowEstimate)
#include "tst_row_estimate.moc"

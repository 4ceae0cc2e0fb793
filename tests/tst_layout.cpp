// SPDX-License-Identifier: GPL-3.0-or-later
#include <QSet>
#include <QTest>
#include <algorithm>

#include "ui/layout.h"

using logic::Control;
using ui::kControls;

class TestLayout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void twipsToPixels_data() {
        QTest::addColumn<int>("twips");
        QTest::addColumn<double>("dpi");
        QTest::addColumn<int>("pixels");
        QTest::newRow("one pixel") << 15 << 96.0 << 1;
        QTest::newRow("client width") << 7275 << 96.0 << 485;
        QTest::newRow("client height") << 6330 << 96.0 << 422;
        QTest::newRow("reverse2 left") << 1995 << 96.0 << 133;
        QTest::newRow("rounds half up") << 7275 << 144.0 << 728;
        QTest::newRow("rounds down") << 7 << 96.0 << 0;
        QTest::newRow("120 dpi inch") << 1440 << 120.0 << 120;
        QTest::newRow("zero") << 0 << 96.0 << 0;
    }

    void twipsToPixels() {
        QFETCH(int, twips);
        QFETCH(double, dpi);
        QFETCH(int, pixels);
        QCOMPARE(ui::twipsToPixels(twips, dpi), pixels);
    }

    // Every control once; each one's frame comes before it, so the window can be built in table
    // order; the tab indexes are 0 to 28 without gaps.
    void tableIsWhole() {
        QSet<int> ids;
        QSet<int> seenFrames;
        std::vector<int> tabs;
        for (const ui::ControlDesign& design : kControls) {
            QVERIFY2(!ids.contains(int(design.id)), design.name.data());
            ids.insert(int(design.id));
            if (design.parent) {
                QVERIFY2(seenFrames.contains(int(*design.parent)), design.name.data());
            }
            if (design.kind == ui::Kind::Frame) {
                seenFrames.insert(int(design.id));
            }
            if (design.tabIndex) {
                tabs.push_back(*design.tabIndex);
            }
        }
        QCOMPARE(ids.size(), int(Control::Command11) + 1);
        std::sort(tabs.begin(), tabs.end());
        QCOMPARE(tabs.size(), std::size_t{29});
        for (std::size_t i = 0; i < tabs.size(); ++i) {
            QCOMPARE(tabs[i], int(i));
        }
        QVERIFY(!ui::design(Control::Shape1).tabIndex);
    }

    void noticeHasSevenLines() {
        const QString notice = QString::fromStdU16String(std::u16string(ui::kNotice));
        QCOMPARE(notice.count(QStringLiteral("\r\n")), 7);
        QVERIFY(notice.endsWith(QStringLiteral("\r\n")));
        QVERIFY(notice.startsWith(QStringLiteral("亲，\r\n")));
        QCOMPARE(notice.count(u'\n'), 7);
        QCOMPARE(notice.count(u'\r'), 7);
    }
};

QTEST_GUILESS_MAIN(TestLayout)
#include "tst_layout.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>

#include "fakes/open_logic.h"
#include "fakes/work_area_lines.h"
#include "logic/frmmain.h"

using fakes::FakeCommDevice;
using fakes::FakeToolkit;
using fakes::kHeader;
using fakes::kSent;
using logic::Control;

namespace {

enum class Button { on1, off1, reverse1, on2, off2, reverse2, Command10, Command11 };

struct Rig : fakes::OpenLogic {
    void click(Button button) {
        switch (button) {
            case Button::on1:
                return logic.on1_Click(0);
            case Button::off1:
                return logic.off1_Click(0);
            case Button::reverse1:
                return logic.reverse1_Click(0);
            case Button::on2:
                return logic.on2_Click(0);
            case Button::off2:
                return logic.off2_Click(0);
            case Button::reverse2:
                return logic.reverse2_Click(0);
            case Button::Command10:
                return logic.Command10_Click();
            case Button::Command11:
                return logic.Command11_Click();
        }
    }
};

}  // namespace

class TestUserActions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buttonsSendTheirTexts_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("on1") << int(Button::on1) << "A0 01 03 A4";
        QTest::newRow("off1") << int(Button::off1) << "A0 01 02 A3";
        QTest::newRow("reverse1") << int(Button::reverse1) << "A0 01 04 A5";
        QTest::newRow("on2") << int(Button::on2) << "A0 02 03 A5";
        QTest::newRow("off2") << int(Button::off2) << "A0 02 02 A4";
        QTest::newRow("reverse2") << int(Button::reverse2) << "A0 02 04 A6";
        QTest::newRow("all on") << int(Button::Command10) << "24 01 04 01 02 02 2E";
        QTest::newRow("all off") << int(Button::Command11) << "24 01 04 01 01 01 2C";
    }

    void buttonsSendTheirTexts() {
        QFETCH(int, button);
        QFETCH(QString, text);
        Rig rig;
        rig.click(static_cast<Button>(button));
        QCOMPARE(rig.device.log.last(), "Output=" + text);
        QCOMPARE(rig.toolkit.texts[Control::Text1], kSent + text + kHeader);
    }

    // The channel buttons send their box's text exactly as it stands; the all-channels buttons
    // send their fixed texts whatever the boxes hold.
    void editedTextsAreSentAsEdited_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("edited");
        QTest::addColumn<QString>("wire");
        QTest::newRow("wrong checksum")
            << int(Control::on1text) << int(Button::on1) << "A0 01 03 A5"
            << "A0 01 03 A5";
        QTest::newRow("spaces and lower case")
            << int(Control::reverse2text) << int(Button::reverse2) << "  a0 02 04 a6 "
            << "A0 02 04 A6";
        QTest::newRow("emptied") << int(Control::off2text) << int(Button::off2) << ""
                                 << "";
        QTest::newRow("garbage") << int(Control::off1text) << int(Button::off1) << "hello"
                                 << "";
    }

    void editedTextsAreSentAsEdited() {
        QFETCH(int, box);
        QFETCH(int, button);
        QFETCH(QString, edited);
        QFETCH(QString, wire);
        Rig rig;
        rig.toolkit.texts[static_cast<Control>(box)] = edited;
        rig.click(static_cast<Button>(button));
        const bool wrote = rig.device.log.last().startsWith(QStringLiteral("Output="));
        QCOMPARE(wrote, !wire.isEmpty());
        if (wrote) {
            QCOMPARE(rig.device.log.last(), "Output=" + wire);
        }
        QCOMPARE(rig.toolkit.texts[Control::Text1], kSent + edited + kHeader);
        QCOMPARE(rig.toolkit.texts[static_cast<Control>(box)], edited);
    }

    void allChannelsIgnoreTheBoxes() {
        Rig rig;
        for (const Control box : {Control::on1text, Control::off1text, Control::on2text}) {
            rig.toolkit.texts[box] = QStringLiteral("FF FF");
        }
        rig.click(Button::Command10);
        rig.click(Button::Command11);
        QCOMPARE(rig.device.log.filter(QStringLiteral("Output=")),
                 (QStringList{"Output=24 01 04 01 02 02 2E", "Output=24 01 04 01 01 01 2C"}));
    }

    // A button pressed while no port is open still sends: the device refuses, and the operator
    // hears why, once.
    void buttonWhileClosed() {
        Rig rig;
        rig.device.open = false;
        rig.click(Button::on2);
        QCOMPARE(rig.device.log.last(), QStringLiteral("Output=A0 02 03 A5"));
        QCOMPARE(rig.toolkit.messages.size(), 1);
    }

    void clearEmptiesOnlyTheWorkArea() {
        Rig rig;
        rig.toolkit.texts[Control::Text1] = QStringLiteral("notice\r\n");
        rig.click(Button::on1);
        rig.device.receive({0x01});
        rig.device.raise(logic::kComEvReceive);
        rig.click(Button::off1);

        rig.logic.Command4_Click();
        QCOMPARE(rig.toolkit.texts[Control::Text1], QString());
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 01"));
        QCOMPARE(rig.toolkit.texts[Control::on1text], QStringLiteral("A0 01 03 A4"));
        QVERIFY(rig.device.open);

        rig.logic.Command4_Click();
        QCOMPARE(rig.toolkit.texts[Control::Text1], QString());

        // The next send starts the work area with a line break.
        rig.click(Button::on1);
        QVERIFY(rig.toolkit.texts[Control::Text1].startsWith(kSent));
    }
};

QTEST_GUILESS_MAIN(TestUserActions)
#include "tst_user_actions.moc"

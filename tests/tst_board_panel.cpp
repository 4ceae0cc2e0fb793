// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated board's panel follows the board: relay lamps change as frames arrive, and say so
// to a screen reader, the counts grow, and a hang-up shows on the line.

#include <unistd.h>

#include <QAccessible>
#include <QTest>

#include "sim/board_panel.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"
#include "ui/accessible.h"

namespace {

const QColor kOn(0, 255, 0);
const QColor kOff(0, 0, 0);

// Writes `hex` to the line as the program would, from the slave's side.
void sendToBoard(const sim::PseudoTerminal& terminal, const char* hex) {
    const QByteArray bytes = QByteArray::fromHex(hex);
    QCOMPARE(::write(terminal.slaveDescriptor(), bytes.constData(), std::size_t(bytes.size())),
             ssize_t(bytes.size()));
}

// What a screen reader finds in the panel: each lamp's name, and whether it is checked.
QStringList lamps(QWidget& panel) {
    QStringList found;
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&panel);
    for (int i = 0; i < window->childCount(); ++i) {
        const QAccessibleInterface* child = window->child(i);
        if (child->role() == QAccessible::Graphic) {
            found << child->text(QAccessible::Name) +
                         (child->state().checked ? QStringLiteral(" (checked)") : QString());
        }
    }
    return found;
}

}  // namespace

class TestBoardPanel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { ui::installAccessibleInterfaces(); }

    void followsTheBoard() {
        if (const QString why = support::whyNoPseudoTerminal(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
        sim::PseudoTerminal terminal;
        sim::RelayBoardSim board(terminal);
        sim::BoardPanel panel(board, terminal.slavePath());
        panel.show();
        QCOMPARE(panel.windowTitle(), QStringLiteral("模拟继电器板"));
        QCOMPARE(panel.relayLampColor(1), kOff);
        QCOMPARE(panel.relayLampColor(2), kOff);
        QVERIFY(panel.lineText().contains(terminal.slavePath()));
        QCOMPARE(QAccessible::queryAccessibleInterface(&panel)->role(), QAccessible::Window);
        QCOMPARE(lamps(panel), QStringList({"第一路 继电器 释放", "第二路 继电器 释放"}));

        sendToBoard(terminal, "A00103A4");
        QTRY_COMPARE(panel.relayLampColor(1), kOn);
        QCOMPARE(panel.relayLampColor(2), kOff);
        QCOMPARE(lamps(panel), QStringList({"第一路 继电器 吸合 (checked)", "第二路 继电器 释放"}));

        sendToBoard(terminal, "A00203A6");  // wrong checksum
        QTRY_VERIFY(panel.countsText().contains(QStringLiteral("已拒绝的帧：1")));
        QCOMPARE(panel.relayLampColor(2), kOff);

        sendToBoard(terminal, "2401040102022E");
        QTRY_COMPARE(panel.relayLampColor(2), kOn);
        sendToBoard(terminal, "A00104A5");
        QTRY_COMPARE(panel.relayLampColor(1), kOff);
        QVERIFY(panel.countsText().contains(QStringLiteral("已接受的帧：3")));
        QCOMPARE(lamps(panel), QStringList({"第一路 继电器 释放", "第二路 继电器 吸合 (checked)"}));

        board.hangUp();
        QTRY_VERIFY(panel.lineText().contains(QStringLiteral("已挂断")));
    }
};

QTEST_MAIN(TestBoardPanel)
#include "tst_board_panel.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt window, offscreen: built from the layout table, the tab order walked with real key
// events, the port list's Click only on picks from the list, every button over a real
// pseudo-terminal to the simulated board, and start-up with COM1 missing, busy and present.

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <memory>

#include "codec/hex_codec.h"
#include "fakes/fake_comm_device.h"
#include "logic/port_manager.h"
#include "logic/qt_text.h"
#include "serial/linux_comm_device.h"
#include "sim/pseudo_terminal.h"
#include "sim/relay_board_sim.h"
#include "support/line_checks.h"
#include "ui/accessible.h"
#include "ui/lamp.h"
#include "ui/layout.h"
#include "ui/log_view.h"
#include "ui/main_window.h"
#include "ui/port_combo_box.h"

using logic::Control;
using ui::MainWindow;

namespace {

const QString kHeader = QStringLiteral("\r\n-->收到数据:");

// Answers every message box the window shows: records its text, title, buttons, the OK button's
// text and the box's icon, and presses OK.
class MessageBoxes : public QObject {
public:
    MessageBoxes() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            texts << box->text();
            titles << box->windowTitle();
            buttons << box->buttons().size();
            okTexts << box->button(QMessageBox::Ok)->text();
            icons << box->windowIcon().cacheKey();
            box->button(QMessageBox::Ok)->click();
        });
        m_timer.start(5);
    }
    QStringList texts;
    QStringList titles;
    QList<qsizetype> buttons;
    QStringList okTexts;
    QList<qint64> icons;

private:
    QTimer m_timer;
};

// The window on the Linux device, COM1 bound to a pseudo-terminal with the board on its master,
// or to `com1` when given.
struct LinkedWindow {
    explicit LinkedWindow(const QString& com1 = {})
        : device(serial::PortNumbering({{1, com1.isEmpty() ? terminal.slavePath() : com1}})) {
        window.load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
    ~LinkedWindow() { device.PortOpen(false); }

    template <typename T = QWidget>
    T* control(Control id) {
        return qobject_cast<T*>(window.widget(id));
    }
    void click(Control button) { QTest::mouseClick(control(button), Qt::LeftButton); }
    QString text(Control box) { return window.text(box); }

    MessageBoxes boxes;
    sim::PseudoTerminal terminal;
    sim::RelayBoardSim board{terminal};
    serial::LinuxCommDevice device;
    MainWindow window{device, device.portInfo()};
};

// The window on the device double, for what needs no line.
struct FakeWindow {
    FakeWindow() {
        window.load();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        device.log.clear();
    }
    ui::PortComboBox* combo() {
        return qobject_cast<ui::PortComboBox*>(window.widget(Control::Combo1));
    }

    MessageBoxes boxes;
    fakes::FakeCommDevice device;
    MainWindow window{device};
};

QColor lampColor(MainWindow& window) {
    return qobject_cast<ui::Lamp*>(window.widget(Control::Shape1))->color();
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        ui::installAccessibleInterfaces();
        if (const QString why = support::whyNoPseudoTerminal(); !why.isEmpty()) {
            QSKIP(qPrintable(why));
        }
    }

    // Every control of the table, with its frame, its place at 96 dpi, its caption or text.
    void builtFromTheTable() {
        FakeWindow rig;
        MainWindow& window = rig.window;
        if (window.logicalDpiY() != 96) {
            QSKIP("the screen is not at 96 dpi");
        }
        QCOMPARE(window.windowTitle(), QStringLiteral("ZEVA系列继电器测试软件V1.00"));
        QCOMPARE(window.size(), QSize(485, 422));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        for (const ui::ControlDesign& design : ui::kControls) {
            QWidget* widget = window.widget(design.id);
            const QString name =
                QString::fromLatin1(design.name.data(), qsizetype(design.name.size()));
            QCOMPARE(widget->objectName(), name);
            QCOMPARE(widget->parentWidget(),
                     design.parent ? window.widget(*design.parent) : &window);
            const QRect expected(
                ui::twipsToPixels(design.left, 96), ui::twipsToPixels(design.top, 96),
                ui::twipsToPixels(design.width, 96), ui::twipsToPixels(design.height, 96));
            QCOMPARE(widget->geometry(), expected);
            QCOMPARE(widget->focusPolicy() != Qt::NoFocus, design.tabIndex.has_value() &&
                                                               design.kind != ui::Kind::Frame &&
                                                               design.kind != ui::Kind::Label);
            const QString text = logic::toQString(design.text);
            if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
                QCOMPARE(frame->title(), text);
            } else if (auto* label = qobject_cast<QLabel*>(widget)) {
                QCOMPARE(label->text(), text);
            } else if (auto* edit = qobject_cast<QLineEdit*>(widget);
                       edit && design.kind == ui::Kind::TextBox) {
                QCOMPARE(edit->text(), text);
            } else if (auto* log = qobject_cast<ui::LogView*>(widget)) {
                QCOMPARE(log->text(), text);
            }
        }
        QCOMPARE(window.widget(Control::reverse2)->x(), 133);
        QCOMPARE(qobject_cast<QComboBox*>(window.widget(Control::Combo1))->count(), 4);
        QCOMPARE(qobject_cast<QComboBox*>(window.widget(Control::Combo1))->itemText(3),
                 QStringLiteral("COM4"));
    }

    // The window shows the program's icon, from the icon theme or else the one built in, which
    // is what it finds here.
    void windowIcon() {
        FakeWindow rig;
        const QIcon icon = rig.window.windowIcon();
        QVERIFY(!icon.isNull());
        QCOMPARE(icon.pixmap(QSize(32, 32)).size(), QSize(32, 32));
        QList<QSize> sizes = icon.availableSizes();
        std::sort(sizes.begin(), sizes.end(),
                  [](QSize a, QSize b) { return a.width() < b.width(); });
        QCOMPARE(sizes,
                 (QList<QSize>{
                     {16, 16}, {24, 24}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}));
    }

    // What a screen reader says for each control, asked through the accessibility interface
    // it reads; the window is on a port that opened, so the lamp is green.
    void accessibleNames_data() {
        QTest::addColumn<int>("control");
        QTest::addColumn<QString>("name");
        const QList<std::pair<Control, QString>> rows{
            {Control::Frame1, "串口"},
            {Control::Label1, "串口"},
            {Control::Combo1, "串口"},
            {Control::Shape1, "串口已打开"},
            {Control::Command1, "关闭端口"},
            {Control::Frame13, "ZEVA-1/2测试软件"},
            {Control::Label2, "ZEVA-1/2测试软件"},
            {Control::Frame4, "命令和功能"},
            {Control::ch1, "第一路"},
            {Control::on1text, "第一路 打开 命令"},
            {Control::on1, "第一路 打开"},
            {Control::off1text, "第一路 关闭 命令"},
            {Control::off1, "第一路 关闭"},
            {Control::reverse1text, "第一路 反向 命令"},
            {Control::reverse1, "第一路 反向"},
            {Control::Frame3, "第二路"},
            {Control::on2text, "第二路 打开 命令"},
            {Control::on2, "第二路 打开"},
            {Control::off2text, "第二路 关闭 命令"},
            {Control::off2, "第二路 关闭"},
            {Control::reverse2text, "第二路 反向 命令"},
            {Control::reverse2, "第二路 反向"},
            {Control::Text4, "收到的字节"},
            {Control::Frame5, "工作区"},
            {Control::Text1, "工作区"},
            {Control::Frame2, "清空工作区"},
            {Control::Command4, "清空工作区"},
            {Control::Frame12, "全开/全关"},
            {Control::Command10, "全开"},
            {Control::Command11, "全关"},
        };
        QCOMPARE(rows.size(), qsizetype(ui::kControls.size()));
        for (const auto& [control, name] : rows) {
            const std::string_view id = ui::design(control).name;
            QTest::newRow(std::string(id).c_str()) << int(control) << name;
        }
    }

    void accessibleNames() {
        QFETCH(int, control);
        QFETCH(QString, name);
        FakeWindow rig;
        QAccessibleInterface* widget =
            QAccessible::queryAccessibleInterface(rig.window.widget(Control(control)));
        QVERIFY(widget);
        // On Linux a combo box's name is its current text, and screen readers name it by the
        // label that points at it.
        if (widget->role() == QAccessible::ComboBox) {
            const auto labels = widget->relations(QAccessible::Label);
            QCOMPARE(labels.size(), 1);
            QCOMPARE(labels.first().first->text(QAccessible::Name), name);
            QCOMPARE(rig.window.widget(Control(control))->accessibleName(), name);
            return;
        }
        QCOMPARE(widget->text(QAccessible::Name), name);
    }

    // The lamp tells in words what its colour shows.
    void lampSaysWhetherThePortIsOpen() {
        FakeWindow rig;
        QWidget* lamp = rig.window.widget(Control::Shape1);
        QAccessibleInterface* lampInterface = QAccessible::queryAccessibleInterface(lamp);
        QCOMPARE(lampInterface->text(QAccessible::Name), QStringLiteral("串口已打开"));
        QCOMPARE(lampInterface->text(QAccessible::Description),
                 QStringLiteral("串口状态指示灯，绿色表示串口已打开"));
        QCOMPARE(lampInterface->role(), QAccessible::Graphic);
        QVERIFY(lampInterface->state().checked);

        QTest::mouseClick(rig.window.widget(Control::Command1), Qt::LeftButton);
        QCOMPARE(lampColor(rig.window), QColor(0, 0, 0));
        QCOMPARE(lampInterface->text(QAccessible::Name), QStringLiteral("串口已关闭"));
        QVERIFY(!lampInterface->state().checked);

        QTest::mouseClick(rig.window.widget(Control::Command1), Qt::LeftButton);
        QCOMPARE(lampColor(rig.window), QColor(0, 255, 0));
        QCOMPARE(lampInterface->text(QAccessible::Name), QStringLiteral("串口已打开"));
        QVERIFY(lampInterface->state().checked);
    }

    // To assistive technology the window is a window, not a part of one.
    void windowIsAWindow() {
        FakeWindow rig;
        QCOMPARE(QAccessible::queryAccessibleInterface(&rig.window)->role(), QAccessible::Window);
    }

    void labelFonts() {
        FakeWindow rig;
        const QFont title = rig.window.widget(Control::Label2)->font();
        QCOMPARE(title.family(), QStringLiteral("宋体"));
        QCOMPARE(title.pointSizeF(), 18.0);
        QVERIFY(title.bold());
        const QFont port = rig.window.widget(Control::Label1)->font();
        QCOMPARE(port.family(), QStringLiteral("宋体"));
        QCOMPARE(port.pointSizeF(), 10.5);
        QVERIFY(!port.bold());
        // The name stands for a Song face that is there, so the captions do not show as boxes.
        const QString face = QFontInfo(title).family();
        if (!face.startsWith(QStringLiteral("AR PL UMing")) && !face.contains(u"CJK")) {
            QSKIP(qPrintable(u"no Song-style CJK face is installed; 宋体 resolves to " + face));
        }
        QVERIFY(QFontMetrics(title).inFontUcs4(U'测'));
    }

    // Tab walks the controls in tab-index order, from the clear button round to it again; Tab
    // in the work area moves on and types nothing.
    void tabOrder() {
        FakeWindow rig;
        QCOMPARE(QApplication::focusWidget(), rig.window.widget(Control::Command4));
        const QString workArea = rig.window.text(Control::Text1);
        QStringList visited;
        for (int i = 0; i < 19; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        const QStringList expected{"Command1",  "Combo1",       "Text1",        "on1",
                                   "off1",      "on1text",      "off1text",     "off2text",
                                   "on2text",   "off2",         "on2",          "Command10",
                                   "Command11", "Text4",        "reverse1text", "reverse1",
                                   "reverse2",  "reverse2text", "Command4"};
        QCOMPARE(visited, expected);
        QCOMPARE(rig.window.text(Control::Text1), workArea);
    }

    // Only a pick from the list runs the port list's Click.
    void portListClickOnlyOnPicks() {
        FakeWindow rig;
        ui::PortComboBox* combo = rig.combo();
        combo->setFocus();

        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("COM3"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(combo, Qt::Key_Down);
        QWheelEvent wheel(QPointF(5, 5), combo->mapToGlobal(QPointF(5, 5)), {}, {0, -120},
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &wheel);
        QVERIFY2(rig.device.log.isEmpty(), qPrintable(rig.device.log.join(u", ")));
        QCOMPARE(rig.window.selectedIndex(Control::Combo1), -1);

        // A popup closed without a pick leaves nothing behind for the next typed Return.
        combo->showPopup();
        QTest::keyClick(combo->view(), Qt::Key_Escape);
        QCoreApplication::processEvents();
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), QStringLiteral("COM2"));
        QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
        QVERIFY2(rig.device.log.isEmpty(), qPrintable(rig.device.log.join(u", ")));

        // Picked with the keyboard.
        combo->showPopup();
        combo->view()->setCurrentIndex(combo->model()->index(1, 0));
        QTest::keyClick(combo->view(), Qt::Key_Return);
        QCOMPARE(rig.window.selectedIndex(Control::Combo1), 1);
        QCOMPARE(rig.device.log.mid(0, 3),
                 (QStringList{"PortOpen=False", "CommPort=2", "PortOpen=True"}));

        // Picked with the mouse.
        rig.device.log.clear();
        combo->showPopup();
        QAbstractItemView* view = combo->view();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualRect(combo->model()->index(3, 0)).center());
        QCOMPARE(rig.device.log.mid(0, 3),
                 (QStringList{"PortOpen=False", "CommPort=4", "PortOpen=True"}));
        QCOMPARE(rig.window.logic().portManager().SelectedPort(), 4);
    }

    void startUpWithCom1Present() {
        LinkedWindow rig;
        QVERIFY(rig.boxes.texts.isEmpty());
        QCOMPARE(rig.window.caption(Control::Command1), QStringLiteral("关闭端口"));
        QCOMPARE(lampColor(rig.window), QColor(0, 255, 0));
        QCOMPARE(qobject_cast<QComboBox*>(rig.window.widget(Control::Combo1))->currentText(),
                 QStringLiteral("COM1"));
        QVERIFY(rig.window.portToolTip(1).contains(rig.terminal.slavePath()));
    }

    void startUpWithCom1Missing() {
        LinkedWindow rig(QStringLiteral("/dev/no-such-serial-port"));
        QCOMPARE(rig.boxes.texts, QStringList{"串口不存在！"});
        QCOMPARE(rig.boxes.titles, QStringList{"ZEVA系列继电器测试软件V1.00"});
        QCOMPARE(rig.boxes.buttons, QList<qsizetype>{1});
        QCOMPARE(rig.boxes.okTexts, QStringList{"确定"});
        QCOMPARE(rig.boxes.icons, QList<qint64>{rig.window.windowIcon().cacheKey()});
        QCOMPARE(rig.window.caption(Control::Command1), QStringLiteral("打开端口"));
        QCOMPARE(lampColor(rig.window), QColor(0, 0, 0));
        QVERIFY2(rig.window.lampToolTip().contains(u"/dev/no-such-serial-port"),
                 qPrintable(rig.window.lampToolTip()));
    }

    void startUpWithCom1HeldByAnotherProgram() {
        sim::PseudoTerminal terminal;
        QProcess holder;
        holder.start(QStringLiteral(COMM_DEVICE_HELPER), {"hold", terminal.slavePath()});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

        {
            LinkedWindow rig(terminal.slavePath());
            QCOMPARE(rig.boxes.texts, QStringList{"串口已打开！"});
            QCOMPARE(rig.window.caption(Control::Command1), QStringLiteral("打开端口"));
            QCOMPARE(lampColor(rig.window), QColor(0, 0, 0));
        }
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
    }

    // Each button with its default text: the frame reaches the board, and the work area shows
    // the sent line, the header and the board's echo.
    void buttonsSendTheirFrames_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("frame");
        QTest::newRow("on1") << int(Control::on1) << "A0 01 03 A4";
        QTest::newRow("off1") << int(Control::off1) << "A0 01 02 A3";
        QTest::newRow("reverse1") << int(Control::reverse1) << "A0 01 04 A5";
        QTest::newRow("on2") << int(Control::on2) << "A0 02 03 A5";
        QTest::newRow("off2") << int(Control::off2) << "A0 02 02 A4";
        QTest::newRow("reverse2") << int(Control::reverse2) << "A0 02 04 A6";
        QTest::newRow("all on") << int(Control::Command10) << "24 01 04 01 02 02 2E";
        QTest::newRow("all off") << int(Control::Command11) << "24 01 04 01 01 01 2C";
    }

    void buttonsSendTheirFrames() {
        QFETCH(int, button);
        QFETCH(QString, frame);
        LinkedWindow rig;
        rig.click(static_cast<Control>(button));
        const QString expected = QStringLiteral("\r\n发出数据:") + frame + kHeader + u' ' + frame;
        QTRY_VERIFY2(rig.text(Control::Text1).endsWith(expected),
                     qPrintable(rig.text(Control::Text1).right(80)));
        QVERIFY(rig.text(Control::Text1).startsWith(logic::toQString(ui::kNotice)));
        QVERIFY(rig.text(Control::Text4).startsWith(QStringLiteral("Text4 ") + frame));
        QCOMPARE(rig.board.board().acceptedFrames(), std::size_t{1});
    }

    // The board talks while the operator clicks, faster than the boxes' frames: each packet the
    // board sent before a click stands before that click's lines, and once everything has
    // reached the screen both boxes hold every byte in order. (The boxes hold appended text
    // until their frame; the sends' lines wait in the same queue as the bytes.)
    void repliesAndClicksKeepTheirOrderOnScreen() {
        LinkedWindow rig;
        rig.board.setSilent(true);
        rig.click(Control::Command4);
        QRandomGenerator random(1207);
        QString workArea;
        QString receivedBox = QStringLiteral("Text4");
        for (int click = 0; click < 12; ++click) {
            QByteArray packet;
            for (int i = random.bounded(1, 9); i > 0; --i) {
                packet += char(random.bounded(256));
            }
            rig.board.send(packet);
            for (const char byte : std::as_const(packet)) {
                const QString entry =
                    QString::fromStdU16String(codec::hexByteText(static_cast<std::uint8_t>(byte)));
                while (workArea.endsWith(u' ')) {
                    workArea.chop(1);
                }
                while (workArea.startsWith(u' ')) {
                    workArea.remove(0, 1);
                }
                workArea += u' ' + entry;
                receivedBox += u' ' + entry;
            }
            QTest::qWait(random.bounded(0, 60));
            rig.click(Control::on1);
            workArea += QStringLiteral("\r\n发出数据:A0 01 03 A4") + kHeader;
        }
        auto* work = rig.control<ui::LogView>(Control::Text1);
        auto* received = rig.control<ui::LogView>(Control::Text4);
        QTRY_VERIFY(!work->hasPendingText() && !received->hasPendingText());
        QCOMPARE(rig.text(Control::Text1), workArea);
        QCOMPARE(rig.text(Control::Text4), receivedBox);
    }

    // An edited text goes out as edited; the board rejects the wrong checksum and stays silent.
    void editedTextIsSentAsEdited() {
        LinkedWindow rig;
        auto* box = rig.control<QLineEdit>(Control::on1text);
        box->selectAll();
        QTest::keyClicks(box, QStringLiteral("a0 01 03 a5"));
        rig.click(Control::on1);
        QTRY_COMPARE(rig.board.board().rejectedFrames(), std::size_t{1});
        QVERIFY(
            rig.text(Control::Text1).endsWith(QStringLiteral("发出数据:a0 01 03 a5") + kHeader));
        QCOMPARE(box->text(), QStringLiteral("a0 01 03 a5"));
    }

    // Each command box's tooltip tells what its text sends at the moment it is shown, after
    // the operator's edits too.
    void commandBoxToolTips_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<QString>("before");
        QTest::newRow("on1text") << int(Control::on1text)
                                 << "4 字节：A0 01 03 A4 — 第一路 打开，校验和正确";
        QTest::newRow("off1text") << int(Control::off1text)
                                  << "4 字节：A0 01 02 A3 — 第一路 关闭，校验和正确";
        QTest::newRow("reverse1text")
            << int(Control::reverse1text) << "4 字节：A0 01 04 A5 — 第一路 反向，校验和正确";
        QTest::newRow("on2text") << int(Control::on2text)
                                 << "4 字节：A0 02 03 A5 — 第二路 打开，校验和正确";
        QTest::newRow("off2text") << int(Control::off2text)
                                  << "4 字节：A0 02 02 A4 — 第二路 关闭，校验和正确";
        QTest::newRow("reverse2text")
            << int(Control::reverse2text) << "4 字节：A0 02 04 A6 — 第二路 反向，校验和正确";
    }

    void commandBoxToolTips() {
        QFETCH(int, box);
        QFETCH(QString, before);
        FakeWindow rig;
        auto* edit = qobject_cast<QLineEdit*>(rig.window.widget(static_cast<Control>(box)));
        QVERIFY(edit);
        const auto hover = [&] {
            const QPoint at = edit->rect().center();
            QHelpEvent help(QEvent::ToolTip, at, edit->mapToGlobal(at));
            QApplication::sendEvent(edit, &help);
        };
        hover();
        QTRY_COMPARE(QToolTip::text(), before);

        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("A0 01 03 A5"));
        hover();
        QTRY_COMPARE(QToolTip::text(),
                     QStringLiteral("4 字节：A0 01 03 A5 — 第一路 打开，校验和不符，应为 A4"));
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClicks(edit, QStringLiteral("G"));
        hover();
        QTRY_COMPARE(QToolTip::text(),
                     QStringLiteral("只转换了前 3 字节：第 4 对 “AG” 不是十六进制数\n"
                                    "3 字节：A0 01 03 — 未知的帧"));
        QToolTip::hideText();
        // Nothing of it went to the device.
        QVERIFY(rig.device.log.isEmpty());
    }

    // The received-bytes box shows one row, its newest byte whole at the right edge of the part
    // of the box that Frame4 leaves visible, the box where the table places it.
    void receivedBytesBoxShowsOneRow() {
        LinkedWindow rig;
        rig.click(Control::on1);
        QTRY_VERIFY(rig.text(Control::Text4).endsWith(QStringLiteral("A4")));
        auto* box = rig.control<ui::LogView>(Control::Text4);
        QTRY_VERIFY(!box->hasPendingText());
        const QWidget* row = box->viewport();
        const int rowHeight = box->fontMetrics().lineSpacing();
        QVERIFY(row->height() >= rowHeight && row->height() < 2 * rowHeight);
        const ui::ControlDesign& design = ui::design(Control::Text4);
        const double dpi = rig.window.logicalDpiY();
        QCOMPARE(
            box->geometry(),
            QRect(ui::twipsToPixels(design.left, dpi), ui::twipsToPixels(design.top, dpi),
                  ui::twipsToPixels(design.width, dpi), ui::twipsToPixels(design.height, dpi)));
        // Where a screen reader says the last byte's two digits are, and what they are.
        QAccessibleTextInterface* text =
            QAccessible::queryAccessibleInterface(box)->textInterface();
        const int count = text->characterCount();
        QCOMPARE(text->text(count - 2, count), QStringLiteral("A4"));
        const QRect digits = text->characterRect(count - 2).united(text->characterRect(count - 1));
        QWidget* frame = rig.window.widget(Control::Frame4);
        const QRect visible(frame->mapToGlobal(QPoint(0, 0)), frame->size());
        const QRect shown(row->mapToGlobal(QPoint(0, 0)), row->size());
        QVERIFY2(visible.intersected(shown).contains(digits),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(digits.x())
                                .arg(digits.y())
                                .arg(digits.width())
                                .arg(digits.height())));
        // The newest bytes stand at the visible edge: less than a digit before it.
        QVERIFY(digits.right() + box->fontMetrics().horizontalAdvance(u'0') > visible.right());
        QCOMPARE(box->cursorForPosition(QPoint(0, row->height() / 2)).block(),
                 box->document()->lastBlock());
    }

    void clearButton() {
        LinkedWindow rig;
        rig.click(Control::on1);
        QTRY_VERIFY(rig.text(Control::Text4).endsWith(QStringLiteral("A4")));
        rig.click(Control::Command4);
        QCOMPARE(rig.text(Control::Text1), QString());
        QCOMPARE(rig.text(Control::Text4), QStringLiteral("Text4 A0 01 03 A4"));
        rig.click(Control::Command4);
        QCOMPARE(rig.text(Control::Text1), QString());
    }

    // Whatever a command box holds is logged unchanged, and the line carries exactly the bytes
    // the codec makes of it.
    void awkwardCommandTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("100,000 characters") << QStringLiteral("A0 ").repeated(33333) + u'0';
        QTest::newRow("32,767 characters") << QStringLiteral("5A").repeated(16383) + u'5';
        QTest::newRow("control characters") << QStringLiteral("A0\u0001\u0007\u001b 01");
        QTest::newRow("full-width digits") << QStringLiteral("Ａ０ ０１");
        QTest::newRow("outside the BMP") << QStringLiteral("A0 \U0001F600 01");
        QTest::newRow("lone surrogate") << QStringLiteral("A0 ") + QChar(0xD800) + u'1';
    }

    void awkwardCommandTexts() {
        QFETCH(QString, text);
        LinkedWindow rig;
        rig.board.setSilent(true);
        rig.control<QLineEdit>(Control::reverse1text)->setText(text);
        rig.click(Control::reverse1);
        QCOMPARE(rig.text(Control::reverse1text), text);
        QVERIFY(rig.text(Control::Text1).endsWith(QStringLiteral("发出数据:") + text + kHeader));
        std::vector<std::uint8_t> bytes;
        const int count = codec::strHexToByteArray(logic::toU16View(text), bytes);
        QTRY_COMPARE(rig.board.receivedBytes(), qint64(count));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"

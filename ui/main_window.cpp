// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/main_window.h"

#include <QFont>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>
#include <limits>
#include <vector>

#include "logic/command_tip.h"
#include "logic/qt_text.h"
#include "ui/accessible_names.h"
#include "ui/app_icon.h"
#include "ui/lamp.h"
#include "ui/log_view.h"
#include "ui/port_combo_box.h"

namespace ui {

using logic::frmmain;
using logic::Rgb;
using logic::toQString;

namespace {

// No Linux font is called 宋体; these Song-style faces stand in for it, the first one present
// wins.
void registerSongSubstitutes() {
    QFont::insertSubstitutions(
        toQString(kSongFace),
        {QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL UMing TW"),
         QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
}

QFont songFont(double pointSize, bool bold) {
    QFont font(toQString(kSongFace));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

// The channel buttons, whose handlers take the element index of the click.
struct ChannelButton {
    Control button;
    void (frmmain::*handler)(std::int16_t);
};

constexpr std::array<ChannelButton, 6> kChannelButtons{{
    {Control::on1, &frmmain::on1_Click},
    {Control::off1, &frmmain::off1_Click},
    {Control::reverse1, &frmmain::reverse1_Click},
    {Control::on2, &frmmain::on2_Click},
    {Control::off2, &frmmain::off2_Click},
    {Control::reverse2, &frmmain::reverse2_Click},
}};

struct PlainButton {
    Control button;
    void (frmmain::*handler)();
};

constexpr std::array<PlainButton, 4> kPlainButtons{{
    {Control::Command1, &frmmain::Command1_Click},
    {Control::Command10, &frmmain::Command10_Click},
    {Control::Command11, &frmmain::Command11_Click},
    {Control::Command4, &frmmain::Command4_Click},
}};

}  // namespace

MainWindow::MainWindow(logic::CommDevice& MSComm1, logic::PortInfo info,
                       logic::TrafficRecord& record)
    : m_info(std::move(info)), m_logic(MSComm1, *this, record) {
    registerSongSubstitutes();
    setWindowTitle(toQString(kWindowCaption));
    setWindowIcon(appIcon());
    const double dpi = logicalDpiY();
    setFixedSize(twipsToPixels(kClientWidthTwips, dpi), twipsToPixels(kClientHeightTwips, dpi));
    buildControls();
    connectEvents();
    chainTabOrder();
}

void MainWindow::buildControls() {
    const double dpi = logicalDpiY();
    for (const ControlDesign& design : kControls) {
        QWidget* parent = design.parent ? widget(*design.parent) : this;
        const QString text = toQString(design.text);
        QWidget* control = nullptr;
        switch (design.kind) {
            case Kind::Frame:
                control = new QGroupBox(text, parent);
                break;
            case Kind::Label:
                control = new QLabel(text, parent);
                break;
            case Kind::ComboBox: {
                auto* combo = new PortComboBox(parent);
                for (const std::u16string_view item : kPortItems) {
                    combo->addItem(toQString(item), 0);
                }
                combo->setFieldText(text);
                combo->setItemDescriber([this](std::int16_t port) { return portToolTip(port); });
                control = combo;
                break;
            }
            case Kind::Shape: {
                auto* lamp = new Lamp(parent);
                lamp->setToolTipSource([this] { return lampToolTip(); });
                control = lamp;
                break;
            }
            case Kind::Button: {
                auto* button = new QPushButton(text, parent);
                // Filled with the window's colour, which is what shows beneath it anyway, the
                // button counts as opaque: the repaint Qt makes before a click's handler runs
                // paints the button alone, not the frame around it as well.
                button->setAutoFillBackground(true);
                control = button;
                break;
            }
            case Kind::TextBox:
                if (design.id == Control::Text4) {
                    auto* box = new LogView(LogView::Mode::OneLine, parent);
                    box->setText(text);
                    control = box;
                } else {
                    auto* box = new QLineEdit(text, parent);
                    box->setMaxLength(std::numeric_limits<int>::max());
                    box->setCursorPosition(0);
                    box->installEventFilter(this);
                    control = box;
                }
                break;
            case Kind::MultiLineTextBox: {
                auto* box = new LogView(LogView::Mode::MultiLine, parent);
                box->setText(text);
                control = box;
                break;
            }
        }
        control->setObjectName(
            QString::fromLatin1(design.name.data(), static_cast<qsizetype>(design.name.size())));
        control->setGeometry(twipsToPixels(design.left, dpi), twipsToPixels(design.top, dpi),
                             twipsToPixels(design.width, dpi), twipsToPixels(design.height, dpi));
        if (!design.tabIndex) {
            control->setFocusPolicy(Qt::NoFocus);
        }
        m_widgets[static_cast<std::size_t>(design.id)] = control;
    }
    // The received-bytes box reaches past the right edge of its frame, which hides the rest; its
    // newest bytes end where the visible part ends.
    QWidget* received = widget(Control::Text4);
    static_cast<LogView*>(received)->setHiddenRight(received->geometry().right() + 1 -
                                                    received->parentWidget()->width());
    for (const AccessibleName& entry : kAccessibleNames) {
        widget(entry.id)->setAccessibleName(toQString(entry.name));
    }
    widget(Control::Shape1)->setAccessibleDescription(toQString(kLampDescription));
    // The label beside the port list names it for screen readers, which on Linux take a combo
    // box's name from its label.
    static_cast<QLabel*>(widget(Control::Label1))->setBuddy(widget(Control::Combo1));
    widget(Control::Label2)->setFont(songFont(kTitlePointSize, true));
    widget(Control::Label1)->setFont(songFont(kPortLabelPointSize, false));
}

void MainWindow::connectEvents() {
    for (const ChannelButton& entry : kChannelButtons) {
        connect(static_cast<QPushButton*>(widget(entry.button)), &QPushButton::clicked, this,
                [this, handler = entry.handler] { (m_logic.*handler)(0); });
    }
    for (const PlainButton& entry : kPlainButtons) {
        connect(static_cast<QPushButton*>(widget(entry.button)), &QPushButton::clicked, this,
                [this, handler = entry.handler] { (m_logic.*handler)(); });
    }
    connect(static_cast<PortComboBox*>(widget(Control::Combo1)), &PortComboBox::picked, this,
            [this] { m_logic.Combo1_Click(); });
}

// The focus moves through the controls that can take it in the order of their tab indexes.
void MainWindow::chainTabOrder() {
    std::vector<const ControlDesign*> order;
    for (const ControlDesign& design : kControls) {
        if (design.tabIndex && widget(design.id)->focusPolicy() != Qt::NoFocus) {
            order.push_back(&design);
        }
    }
    std::sort(order.begin(), order.end(), [](const ControlDesign* a, const ControlDesign* b) {
        return *a->tabIndex < *b->tabIndex;
    });
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(widget(order[i - 1]->id), widget(order[i]->id));
    }
}

void MainWindow::load() {
    m_logic.Form_Load();
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        widget(Control::Command4)->setFocus(Qt::OtherFocusReason);
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(),
                               logic::commandTextTip(box->text()), box);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString MainWindow::text(Control box) {
    if (auto* log = qobject_cast<LogView*>(widget(box))) {
        return log->text();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(widget(box))) {
        return edit->text();
    }
    return {};
}

void MainWindow::setText(Control box, const QString& text) {
    if (auto* log = qobject_cast<LogView*>(widget(box))) {
        log->setText(text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget(box))) {
        edit->setText(text);
    }
}

void MainWindow::appendText(Control box, QStringView text) {
    if (auto* log = qobject_cast<LogView*>(widget(box))) {
        log->appendText(text);
    } else {
        setText(box, MainWindow::text(box) + text);
    }
}

QString MainWindow::textStart(Control box, qsizetype count) {
    if (auto* log = qobject_cast<LogView*>(widget(box))) {
        return log->textStart(count);
    }
    return text(box).left(count);
}

QString MainWindow::textEnd(Control box, qsizetype count) {
    if (auto* log = qobject_cast<LogView*>(widget(box))) {
        return log->textEnd(count);
    }
    return text(box).right(count);
}

void MainWindow::removeStart(Control box, qsizetype count) {
    if (auto* log = qobject_cast<LogView*>(widget(box))) {
        log->removeStart(count);
    } else {
        setText(box, text(box).mid(count));
    }
}

void MainWindow::removeEnd(Control box, qsizetype count) {
    if (auto* log = qobject_cast<LogView*>(widget(box))) {
        log->removeEnd(count);
    } else {
        QString current = text(box);
        current.chop(count);
        setText(box, current);
    }
}

QString MainWindow::caption(Control button) {
    return static_cast<QPushButton*>(widget(button))->text();
}

void MainWindow::setCaption(Control button, const QString& caption) {
    static_cast<QPushButton*>(widget(button))->setText(caption);
}

void MainWindow::setFillColor(Control shape, Rgb color) {
    auto* lamp = static_cast<Lamp*>(widget(shape));
    lamp->setColor(QColor(color.red, color.green, color.blue));
    lamp->setLit(color == logic::kLampOpen);
    if (const QString name = toQString(lampName(color)); widget(shape)->accessibleName() != name) {
        widget(shape)->setAccessibleName(name);
    }
}

void MainWindow::setComboText(Control combo, const QString& text) {
    static_cast<PortComboBox*>(widget(combo))->setFieldText(text);
}

std::int16_t MainWindow::selectedIndex(Control combo) {
    return static_cast<PortComboBox*>(widget(combo))->selectedIndex();
}

void MainWindow::messageBox(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, this);
    box.setWindowIcon(windowIcon());
    // Qt names the button in the system's language; every other text of the window is Chinese.
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    box.exec();
}

QString MainWindow::portToolTip(std::int16_t port) const {
    const QString path = m_info.devicePath ? m_info.devicePath(port) : QString();
    return path.isEmpty() ? QStringLiteral("COM%1：没有对应的串口设备").arg(port)
                          : QStringLiteral("COM%1：%2").arg(port).arg(path);
}

QString MainWindow::lampToolTip() const {
    const logic::PortManager& ports = m_logic.portManager();
    const std::int16_t port = ports.OpenedPort() != 0 ? ports.OpenedPort() : ports.SelectedPort();
    QString tip = portToolTip(port);
    // While the port waits for its device to come back, that says more than the last error.
    if (const QString waiting = ports.waitingText(); !waiting.isEmpty()) {
        return tip + u'\n' + waiting;
    }
    const QString error = m_info.lastError ? m_info.lastError() : QString();
    if (!error.isEmpty()) {
        tip += QStringLiteral("\n最近的错误：") + error;
    }
    return tip;
}

}  // namespace ui

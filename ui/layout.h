// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window as data: every control with its kind, the control it sits in, its place and size
// in twips (1440 to the inch, measured from the top-left corner of the window's client area or
// of the frame that holds it), its tab index and its caption or initial text. The Qt window is
// built from this table; nothing about placement lives anywhere else.

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

#include "codec/relay_frames.h"
#include "logic/toolkit.h"

namespace ui {

using logic::Control;

enum class Kind : std::uint8_t {
    Frame,
    Label,
    ComboBox,
    Shape,
    Button,
    TextBox,           // one line
    MultiLineTextBox,  // with a vertical scroll bar
};

struct ControlDesign {
    Control id;
    std::string_view name;
    Kind kind;
    std::optional<Control> parent;  // none: the window itself
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::optional<int> tabIndex;
    std::u16string_view text;  // caption or initial text; empty for none
};

inline constexpr std::u16string_view kWindowCaption = u"ZEVA系列继电器测试软件V1.00";
inline constexpr int kClientWidthTwips = 7275;
inline constexpr int kClientHeightTwips = 6330;

// The notice the work area starts with: seven lines, each ended by CR LF.
inline constexpr std::u16string_view kNotice =
    u"亲，\r\n"
    u"本程序只是一个简单的演示，给出这项任务的一种编程思路；\r\n"
    u"它既不完整也不精致，其中难免有错误；\r\n"
    u"缺少基础知识的朋友请上网自学，这里不做基础培训；\r\n"
    u"觉得功能不够或需要别的功能，请自己动手添加；\r\n"
    u"如果程序完全不能运行，最可能是缺少运行库（Qt 6 串口组件）或没有串口的访问权限（通常要加入 "
    u"dialout 组），办法请看 man zeva-relay-test 或上网查找；\r\n"
    u"本程序肯定能用，已经转发了近千次；没有时间做基础培训，请多包涵。\r\n";

// clang-format off
inline constexpr std::array<ControlDesign, 30> kControls{{
    {Control::Frame1,       "Frame1",       Kind::Frame,            std::nullopt,     120,    0, 3350,  735,  3, u""},
    {Control::Label1,       "Label1",       Kind::Label,            Control::Frame1,  120,  330,  420,  210,  6, u"串口"},
    {Control::Combo1,       "Combo1",       Kind::ComboBox,         Control::Frame1,  720,  280,  975,  300,  5, u"Combo1"},
    {Control::Shape1,       "Shape1",       Kind::Shape,            Control::Frame1, 1800,  240,  255,  375, std::nullopt, u""},
    {Control::Command1,     "Command1",     Kind::Button,           Control::Frame1, 2160,  210,  975,  400,  4, u"Command1"},
    {Control::Frame13,      "Frame13",      Kind::Frame,            std::nullopt,    3600,    0, 3615,  735, 22, u""},
    {Control::Label2,       "Label2",       Kind::Label,            Control::Frame13, 120,  240, 3375,  375, 23, u"ZEVA-1/2测试软件"},
    {Control::Frame4,       "Frame4",       Kind::Frame,            std::nullopt,     120,  840, 7095, 2055,  2, u"命令和功能"},
    {Control::ch1,          "ch1",          Kind::Frame,            Control::Frame4,  240,  240, 3200, 1695,  9, u"第一路"},
    {Control::on1text,      "on1text",      Kind::TextBox,          Control::ch1,     240,  240, 1500,  270, 12, codec::commandText(codec::Frame::Channel1On)},
    {Control::on1,          "on1",          Kind::Button,           Control::ch1,    2000,  210,  975,  300, 10, u"打开"},
    {Control::off1text,     "off1text",     Kind::TextBox,          Control::ch1,     240,  680, 1500,  270, 13, codec::commandText(codec::Frame::Channel1Off)},
    {Control::off1,         "off1",         Kind::Button,           Control::ch1,    2000,  650,  975,  300, 11, u"关闭"},
    {Control::reverse1text, "reverse1text", Kind::TextBox,          Control::ch1,     240, 1150, 1500,  270, 25, codec::commandText(codec::Frame::Channel1Reverse)},
    {Control::reverse1,     "reverse1",     Kind::Button,           Control::ch1,    2000, 1150,  975,  300, 26, u"反向"},
    {Control::Frame3,       "Frame3",       Kind::Frame,            Control::Frame4, 3720,  240, 3200, 1695, 14, u"第二路"},
    {Control::on2text,      "on2text",      Kind::TextBox,          Control::Frame3,  240,  240, 1500,  270, 16, codec::commandText(codec::Frame::Channel2On)},
    {Control::on2,          "on2",          Kind::Button,           Control::Frame3, 2000,  210,  975,  300, 18, u"打开"},
    {Control::off2text,     "off2text",     Kind::TextBox,          Control::Frame3,  240,  680, 1500,  270, 15, codec::commandText(codec::Frame::Channel2Off)},
    {Control::off2,         "off2",         Kind::Button,           Control::Frame3, 2000,  650,  975,  300, 17, u"关闭"},
    {Control::reverse2text, "reverse2text", Kind::TextBox,          Control::Frame3,  240, 1150, 1500,  270, 28, codec::commandText(codec::Frame::Channel2Reverse)},
    {Control::reverse2,     "reverse2",     Kind::Button,           Control::Frame3, 1995, 1150,  975,  300, 27, u"反向"},
    {Control::Text4,        "Text4",        Kind::TextBox,          Control::Frame4, 6360,  240, 1215,  615, 24, u"Text4"},
    {Control::Frame5,       "Frame5",       Kind::Frame,            std::nullopt,     120, 3000, 7095, 2175,  7, u"工作区"},
    {Control::Text1,        "Text1",        Kind::MultiLineTextBox, Control::Frame5,  120,  240, 6975, 1875,  8, kNotice},
    {Control::Frame2,       "Frame2",       Kind::Frame,            std::nullopt,     120, 5280, 1815,  975,  0, u""},
    {Control::Command4,     "Command4",     Kind::Button,           Control::Frame2,  120,  360, 1455,  375,  1, u"清空工作区"},
    {Control::Frame12,      "Frame12",      Kind::Frame,            std::nullopt,    2040, 5280, 5175,  975, 19, u"全开/全关"},
    {Control::Command10,    "Command10",    Kind::Button,           Control::Frame12, 720,  330, 2000,  500, 20, u"全开"},
    {Control::Command11,    "Command11",    Kind::Button,           Control::Frame12,3000,  330, 2000,  500, 21, u"全关"},
}};
// clang-format on

constexpr const ControlDesign& design(Control id) {
    for (const ControlDesign& entry : kControls) {
        if (entry.id == id) {
            return entry;
        }
    }
    return kControls.front();
}

// The port list's items.
inline constexpr std::array<std::u16string_view, 4> kPortItems{u"COM1", u"COM2", u"COM3", u"COM4"};

// Fonts of the two labels: the Song face at 18 pt bold for the title, 10.5 pt for "串口".
inline constexpr std::u16string_view kSongFace = u"宋体";
inline constexpr double kTitlePointSize = 18.0;
inline constexpr double kPortLabelPointSize = 10.5;

// Twips to device-independent pixels for a screen of `dpi` logical dots per inch, rounded to
// the nearest pixel: 15 twips to the pixel at 96 dpi.
inline int twipsToPixels(int twips, double dpi) {
    return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

}  // namespace ui

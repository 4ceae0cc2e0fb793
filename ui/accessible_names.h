// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a screen reader says for the window's controls: the words a sighted operator reads beside
// each one, in the window's language, with the frame's title where a caption alone is the same in
// both channels. Every control is named here, the titled ones too: without a name of its own, a
// control inside a titled frame would be called by the frame's title. The one left out is the port
// button, whose caption says what it does and changes with the port.

#include <array>
#include <string_view>

#include "logic/toolkit.h"
#include "ui/layout.h"

namespace ui {

struct AccessibleName {
    Control id;
    std::u16string_view name;
};

inline constexpr std::array<AccessibleName, 29> kAccessibleNames{{
    {Control::Frame1, u"串口"},
    {Control::Label1, u"串口"},
    {Control::Combo1, u"串口"},
    {Control::Shape1, u"串口已关闭"},
    {Control::Frame13, u"ZEVA-1/2测试软件"},
    {Control::Label2, u"ZEVA-1/2测试软件"},
    {Control::Frame4, u"命令和功能"},
    {Control::ch1, u"第一路"},
    {Control::on1text, u"第一路 打开 命令"},
    {Control::on1, u"第一路 打开"},
    {Control::off1text, u"第一路 关闭 命令"},
    {Control::off1, u"第一路 关闭"},
    {Control::reverse1text, u"第一路 反向 命令"},
    {Control::reverse1, u"第一路 反向"},
    {Control::Frame3, u"第二路"},
    {Control::on2text, u"第二路 打开 命令"},
    {Control::on2, u"第二路 打开"},
    {Control::off2text, u"第二路 关闭 命令"},
    {Control::off2, u"第二路 关闭"},
    {Control::reverse2text, u"第二路 反向 命令"},
    {Control::reverse2, u"第二路 反向"},
    {Control::Text4, u"收到的字节"},
    {Control::Frame5, u"工作区"},
    {Control::Text1, u"工作区"},
    {Control::Frame2, u"清空工作区"},
    {Control::Command4, u"清空工作区"},
    {Control::Frame12, u"全开/全关"},
    {Control::Command10, u"全开"},
    {Control::Command11, u"全关"},
}};

// The lamp shows the port's state only in colour; its name says it in words and follows the
// colour, and its description says what it is.
inline constexpr std::u16string_view kLampOpenName = u"串口已打开";
inline constexpr std::u16string_view kLampClosedName = u"串口已关闭";
inline constexpr std::u16string_view kLampDescription = u"串口状态指示灯，绿色表示串口已打开";

constexpr std::u16string_view lampName(logic::Rgb color) {
    return color == logic::kLampOpen ? kLampOpenName : kLampClosedName;
}

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a command box will send, in words for its tooltip: the bytes its current text converts
// to, which relay frame they are and whether the checksum is right, or where and why the codec
// stops reading. Worked out from the text whenever the tooltip is shown; sending does not look
// at it.
//
//     4 字节：A0 01 03 A4 — 第一路 打开，校验和正确
//     4 字节：A0 01 03 A5 — 第一路 打开，校验和不符，应为 A4
//     2 字节：A0 01 — 未知的帧
//     没有可发送的字节
//     只转换了前 2 字节：第 3 对 “0G” 不是十六进制数
//     2 字节：A0 01 — 未知的帧
//
// A text that stops early gets a second line saying what will be sent. Characters that would
// not show (controls, spaces other than U+0020, lone surrogates) are written as <U+XXXX>.

#include <QString>
#include <QStringView>

namespace logic {

QString commandTextTip(QStringView text);

}  // namespace logic

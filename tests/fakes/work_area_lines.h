// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The lines the window's logic writes into the work area around the bytes, as the tests expect
// them: before a sent command's text, and before the bytes the board sends back.

#include <QString>

namespace fakes {

inline const QString kSent = QStringLiteral("\r\n发出数据:");
inline const QString kHeader = QStringLiteral("\r\n-->收到数据:");

}  // namespace fakes

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The codec and the window's tables hold texts as UTF-16 views of the standard library; Qt holds
// them as QString. The two are the same code units, so the conversions copy or view them as
// they are.

#include <QString>
#include <QStringView>
#include <string_view>

namespace logic {

inline QString toQString(std::u16string_view text) {
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::u16string_view toU16View(QStringView text) {
    return {text.utf16(), static_cast<std::size_t>(text.size())};
}

}  // namespace logic

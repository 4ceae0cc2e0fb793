// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's icon, for its windows and message boxes.

#include <QIcon>

namespace ui {

// The icon the icon theme has under the program's name, as the package installs it; without
// one (run from the build tree, or not installed), the PNGs built into the program.
QIcon appIcon();

}  // namespace ui

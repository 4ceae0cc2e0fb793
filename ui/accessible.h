// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What assistive technology is told about the program's own widgets, beyond their names: the
// windows are windows, a lamp is a picture, lit or not, and a LogView reads its true
// text (log_view_accessible.h). Qt asks the installed factory before its own.

namespace ui {

// Installs the factory; once is enough, and more calls do nothing. Call it before the first
// widget is shown.
void installAccessibleInterfaces();

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the window tells the operator about the ports in tooltips, beyond what the device
// interface offers: the device path a COM number resolves to now, and the last error the device
// reported. The device side fills it in; the window only reads it. Either part may be empty, and
// each answers with an empty text when it has nothing to tell.

#include <QString>
#include <cstdint>
#include <functional>

namespace logic {

struct PortInfo {
    std::function<QString(std::int16_t)> devicePath;
    std::function<QString()> lastError;
};

}  // namespace logic

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The window logic on the two doubles, with the port open and the work area empty: where the
// tests of sending, receiving and the buttons start.

#include "fakes/fake_comm_device.h"
#include "fakes/fake_toolkit.h"
#include "logic/frmmain.h"

namespace fakes {

struct OpenLogic {
    OpenLogic() {
        device.open = true;
        toolkit.texts[logic::Control::Text1].clear();
    }
    FakeCommDevice device;
    FakeToolkit toolkit;
    logic::frmmain logic{device, toolkit};
};

}  // namespace fakes

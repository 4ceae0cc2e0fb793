#include "ui/frmmain.h"

namespace ui {

frmmain::frmmain(serial::CommDevice& MSComm1, Toolkit& toolkit)
    : m_toolkit(toolkit), m_transmit(MSComm1, toolkit) {}

void frmmain::send_cmd(const QString& str) {
    try {
        m_transmit.send_cmd(str);
    } catch (const serial::CommError& error) {
        m_toolkit.messageBox(error.description());
    }
}

}  // namespace ui

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one operation that writes to the serial line. send_cmd takes a command text, converts it
// with the codec, writes the frame in one Output after clearing both buffers, and logs the
// command and a reply header in the work area:
//     CR LF "发出数据:" <the text as given>  CR LF "-->收到数据:"
// The receive path appends the reply bytes behind the header. A device error ends the send at
// the failing step and propagates (CommError); nothing of that send is logged in the work area.
// The traffic record gets every send, with the bytes written: none when nothing converted or the
// device failed.

#include <QString>
#include <cstdint>
#include <vector>

#include "logic/comm_device.h"
#include "logic/toolkit.h"
#include "logic/traffic_record.h"

namespace logic {

class TransmitPath {
public:
    TransmitPath(CommDevice& MSComm1, Toolkit& toolkit, TrafficRecord& record = noTrafficRecord())
        : m_device(MSComm1), m_toolkit(toolkit), m_record(record) {}

    void send_cmd(const QString& str);

    // The latest command text, taken before conversion, and the bytes it converted to: exactly
    // the bytes written, or one 0x00 byte when nothing was written.
    const QString& TxText() const { return m_txText; }
    const std::vector<std::uint8_t>& TxBytes() const { return m_txBytes; }

private:
    CommDevice& m_device;
    Toolkit& m_toolkit;
    TrafficRecord& m_record;
    QString m_txText;
    std::vector<std::uint8_t> m_txBytes;
};

}  // namespace logic

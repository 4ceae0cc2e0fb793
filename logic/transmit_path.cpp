// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/transmit_path.h"

#include "codec/hex_codec.h"
#include "logic/qt_text.h"

namespace logic {

namespace {

const QString kSentLine = QStringLiteral("\r\n发出数据:");
const QString kReplyHeader = QStringLiteral("\r\n-->收到数据:");

}  // namespace

void TransmitPath::send_cmd(const QString& str) {
    std::int16_t count = 0;
    try {
        m_device.InputMode(kInputModeBinary);
        m_txText = str;
        m_device.InBufferCount(0);
        m_device.OutBufferCount(0);
        count = codec::strHexToByteArray(toU16View(m_txText), m_txBytes);
        if (count > 0) {
            m_device.Output(m_txBytes);
        }
    } catch (const CommError&) {
        m_record.frameWritten(str, {});
        throw;
    }
    m_toolkit.appendText(Control::Text1, QString(kSentLine + str));
    m_toolkit.appendText(Control::Text1, kReplyHeader);
    m_record.frameWritten(str, std::span(m_txBytes).first(static_cast<std::size_t>(count)));
}

}  // namespace logic

#include "logic/transmit_path.h"

#include <string_view>

#include "codec/hex_codec.h"

namespace logic {

namespace {

const QString kSentLine = QStringLiteral("\r\n发出数据:");
const QString kReplyHeader = QStringLiteral("\r\n-->收到数据:");

}  // namespace

void TransmitPath::send_cmd(const QString& str) {
    m_device.InputMode(kInputModeBinary);
    m_txText = str;
    m_device.InBufferCount(0);
    m_device.OutBufferCount(0);
    const QStringView text(m_txText);
    const std::int16_t count = codec::strHexToByteArray(
        std::u16string_view(text.utf16(), static_cast<std::size_t>(text.size())), m_txBytes);
    if (count > 0) {
        m_device.Output(m_txBytes);
    }
    m_toolkit.appendText(Control::Text1, QString(kSentLine + str));
    m_toolkit.appendText(Control::Text1, kReplyHeader);
}

}  // namespace logic

// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/command_tip.h"

#include <optional>

#include "codec/hex_codec.h"
#include "codec/relay_frames.h"
#include "logic/qt_text.h"

namespace logic {

namespace {

QString frameName(codec::Frame frame) {
    switch (frame) {
        case codec::Frame::Channel1On:
            return QStringLiteral("第一路 打开");
        case codec::Frame::Channel1Off:
            return QStringLiteral("第一路 关闭");
        case codec::Frame::Channel1Reverse:
            return QStringLiteral("第一路 反向");
        case codec::Frame::Channel2On:
            return QStringLiteral("第二路 打开");
        case codec::Frame::Channel2Off:
            return QStringLiteral("第二路 关闭");
        case codec::Frame::Channel2Reverse:
            return QStringLiteral("第二路 反向");
        case codec::Frame::AllOn:
            return QStringLiteral("全开");
        case codec::Frame::AllOff:
            return QStringLiteral("全关");
    }
    return {};
}

// The characters as the operator can read them: each one that would not show on its own as
// <U+XXXX>.
QString shown(std::u16string_view units) {
    QString out;
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t code = units[i];
        std::size_t width = 1;
        if (QChar::isHighSurrogate(code) && i + 1 < units.size() &&
            QChar::isLowSurrogate(units[i + 1])) {
            code = QChar::surrogateToUcs4(units[i], units[i + 1]);
            width = 2;
        }
        if (QChar::isPrint(code) && !QChar::isSpace(code) && !QChar::isSurrogate(code)) {
            out += toQString(units.substr(i, width));
        } else {
            out += QStringLiteral("<U+%1>").arg(
                QString::number(static_cast<uint>(code), 16).toUpper().rightJustified(4, u'0'));
        }
        i += width - 1;
    }
    return out;
}

// "4 字节：A0 01 03 A4 — 第一路 打开，校验和正确" for bytes that will be sent.
QString frameLine(const std::vector<std::uint8_t>& bytes) {
    QString line = QStringLiteral("%1 字节：%2 — ")
                       .arg(bytes.size())
                       .arg(toQString(codec::canonicalCommandText(bytes)));
    const std::optional<codec::Frame> frame = codec::frameOf(bytes);
    if (!frame) {
        return line + QStringLiteral("未知的帧");
    }
    line += frameName(*frame) + QStringLiteral("，");
    const std::uint8_t expected = codec::expectedChecksum(bytes).value_or(bytes.back());
    if (expected == bytes.back()) {
        return line + QStringLiteral("校验和正确");
    }
    return line + QStringLiteral("校验和不符，应为 ") + toQString(codec::hexByteText(expected));
}

// Why reading ended early, for a reading that did.
QString stopReason(const codec::CommandReading& reading, std::size_t length) {
    switch (reading.end) {
        case codec::ReadEnd::NotHex:
            return QStringLiteral("第 %1 对 “%2” 不是十六进制数")
                .arg(reading.bytes.size() + 1)
                .arg(shown(reading.stopChars));
        case codec::ReadEnd::LoneCharacter:
            if (codec::ConvertHexChr(reading.stopChars) < 0) {
                return QStringLiteral("末尾的 “%1” 不是十六进制数").arg(shown(reading.stopChars));
            }
            return QStringLiteral("末尾的 “%1” 只有一位数字，凑不成一个字节")
                .arg(shown(reading.stopChars));
        case codec::ReadEnd::TooLong:
            return QStringLiteral("命令有 %1 个字符，超过了 %2 个字符的上限，一个字节也不转换")
                .arg(length)
                .arg(codec::kMaxCommandTextLength);
        case codec::ReadEnd::Complete:
            break;
    }
    return {};
}

}  // namespace

QString commandTextTip(QStringView text) {
    const codec::CommandReading reading = codec::readCommandText(toU16View(text));
    if (reading.end == codec::ReadEnd::Complete) {
        return reading.bytes.empty() ? QStringLiteral("没有可发送的字节")
                                     : frameLine(reading.bytes);
    }
    const QString why = stopReason(reading, static_cast<std::size_t>(text.size()));
    if (reading.bytes.empty()) {
        return QStringLiteral("没有可发送的字节：") + why;
    }
    return QStringLiteral("只转换了前 %1 字节：").arg(reading.bytes.size()) + why + u'\n' +
           frameLine(reading.bytes);
}

}  // namespace logic

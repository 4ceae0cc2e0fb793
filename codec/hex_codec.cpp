// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/hex_codec.h"

namespace codec {

namespace {

constexpr char16_t kSpace = u' ';

// Takes the next character that is not a space, moving `cursor` past it. False when the text runs
// out first.
bool nextDigitChar(std::u16string_view text, std::size_t& cursor, char16_t& taken) {
    while (cursor < text.size()) {
        const char16_t c = text[cursor++];
        if (c != kSpace) {
            taken = c;
            return true;
        }
    }
    return false;
}

}  // namespace

std::int16_t ConvertHexChr(std::u16string_view str) {
    if (str.empty()) {
        return -1;
    }
    const char16_t c = str.front();
    if (c >= u'0' && c <= u'9') {
        return static_cast<std::int16_t>(c - u'0');
    }
    if (c >= u'a' && c <= u'f') {
        return static_cast<std::int16_t>(c - u'a' + 10);
    }
    if (c >= u'A' && c <= u'F') {
        return static_cast<std::int16_t>(c - u'A' + 10);
    }
    return -1;
}

CommandReading readCommandText(std::u16string_view text) {
    CommandReading reading;
    if (text.size() > kMaxCommandTextLength) {
        reading.end = ReadEnd::TooLong;
        return reading;
    }
    reading.bytes.reserve(text.size() / 2 + 1);
    std::size_t cursor = 0;
    char16_t high = 0;
    char16_t low = 0;
    while (nextDigitChar(text, cursor, high)) {
        if (!nextDigitChar(text, cursor, low)) {
            reading.end = ReadEnd::LoneCharacter;
            reading.stopChars = {high};
            return reading;
        }
        const std::int16_t highValue = ConvertHexChr(std::u16string_view(&high, 1));
        const std::int16_t lowValue = ConvertHexChr(std::u16string_view(&low, 1));
        if (highValue < 0 || lowValue < 0) {
            reading.end = ReadEnd::NotHex;
            reading.stopChars = {high, low};
            return reading;
        }
        reading.bytes.push_back(static_cast<std::uint8_t>(highValue * 16 + lowValue));
        reading.consumed = cursor;
    }
    return reading;
}

std::int16_t strHexToByteArray(std::u16string_view strText, std::vector<std::uint8_t>& bytByte) {
    bytByte = readCommandText(strText).bytes;
    const auto count = static_cast<std::int16_t>(bytByte.size());
    if (count == 0) {
        bytByte.assign(1, 0x00);
    }
    return count;
}

std::u16string hexByteText(std::uint8_t byte) {
    return {kUpperHexDigits[byte >> 4], kUpperHexDigits[byte & 0x0F]};
}

std::u16string canonicalCommandText(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += kSpace;
        }
        text += hexByteText(byte);
    }
    return text;
}

}  // namespace codec

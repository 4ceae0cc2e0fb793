// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the command text codec. The input's bytes are read as UTF-16 code units
// (little-endian pairs; a last odd byte is dropped), so every text a box can hold is reachable,
// lone surrogates and texts past the length limit included. The invariants:
// - the count is at most half the text's length, and 0 for a text over the limit;
// - the array holds exactly `count` bytes, or one 0x00 byte when the count is 0;
// - the canonical text of those bytes converts back to the same bytes;
// - readCommandText gives the same bytes, and its end agrees with the text: after what it read
//   come nothing but spaces (Complete), a pair with a character that is not a digit (NotHex),
//   or one character alone (LoneCharacter); TooLong exactly for a text over the limit; and the
//   part it read converts to the same bytes on its own.
// Undefined behaviour is caught by the sanitizers the target is built with.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/hex_codec.h"

namespace {

// The characters of `text` that are not spaces.
std::u16string withoutSpaces(std::u16string_view text) {
    std::u16string kept;
    for (const char16_t c : text) {
        if (c != u' ') {
            kept += c;
        }
    }
    return kept;
}

bool isDigit(char16_t c) {
    return codec::ConvertHexChr(std::u16string_view(&c, 1)) >= 0;
}

void checkReading(std::u16string_view text, const std::vector<std::uint8_t>& converted,
                  std::int16_t count) {
    const codec::CommandReading reading = codec::readCommandText(text);
    const std::vector<std::uint8_t> expected = count == 0 ? std::vector<std::uint8_t>{} : converted;
    if (reading.bytes != expected || reading.consumed > text.size() ||
        (reading.end == codec::ReadEnd::TooLong) != (text.size() > codec::kMaxCommandTextLength)) {
        std::abort();
    }
    const std::u16string rest = withoutSpaces(text.substr(reading.consumed));
    switch (reading.end) {
        case codec::ReadEnd::Complete:
            if (!rest.empty() || !reading.stopChars.empty()) {
                std::abort();
            }
            break;
        case codec::ReadEnd::NotHex:
            if (reading.stopChars.size() != 2 || rest.substr(0, 2) != reading.stopChars ||
                (isDigit(reading.stopChars[0]) && isDigit(reading.stopChars[1]))) {
                std::abort();
            }
            break;
        case codec::ReadEnd::LoneCharacter:
            if (reading.stopChars.size() != 1 || rest != reading.stopChars) {
                std::abort();
            }
            break;
        case codec::ReadEnd::TooLong:
            if (!reading.bytes.empty() || reading.consumed != 0) {
                std::abort();
            }
            return;
    }
    std::vector<std::uint8_t> prefix;
    const std::int16_t prefixCount =
        codec::strHexToByteArray(text.substr(0, reading.consumed), prefix);
    if (prefixCount != count || (count > 0 && prefix != converted)) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    std::vector<std::uint8_t> bytes{0x11, 0x22};
    const std::int16_t count = codec::strHexToByteArray(text, bytes);

    checkReading(text, bytes, count);

    const bool tooLong = text.size() > codec::kMaxCommandTextLength;
    if (count < 0 || static_cast<std::size_t>(count) > text.size() / 2 || (tooLong && count != 0)) {
        std::abort();
    }
    if (count == 0) {
        if (bytes != std::vector<std::uint8_t>{0x00}) {
            std::abort();
        }
        return 0;
    }
    if (bytes.size() != static_cast<std::size_t>(count)) {
        std::abort();
    }
    std::vector<std::uint8_t> again;
    if (codec::strHexToByteArray(codec::canonicalCommandText(bytes), again) != count ||
        again != bytes) {
        std::abort();
    }
    return 0;
}

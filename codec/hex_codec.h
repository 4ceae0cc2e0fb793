// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Command texts are what the operator sees and edits in the command boxes: hexadecimal digit
// pairs such as "A0 01 03 A4". This codec turns such a text into the bytes of a frame. It reads
// more than the canonical form (lower-case digits, any number of spaces before either digit of a
// pair, pairs without separators) and stops quietly at the first thing that is not a complete
// pair: bad text is never an error, it just converts to fewer bytes or none.
//
// Texts are UTF-16 code units, as the window's text boxes hold them. Only U+0020 counts as a
// space; tab, CR, LF, the no-break and the ideographic spaces are invalid digit characters.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace codec {

// Texts longer than this are refused: strHexToByteArray returns 0 for them and leaves the array
// holding one 0x00 byte, as for a text with nothing readable in it. The count is a 16-bit value,
// so a longer text could convert to more bytes than the count can say; reading only a part of it
// would send a frame the operator never wrote.
inline constexpr std::size_t kMaxCommandTextLength = 32767;

// Value of the first character of `str` as a hexadecimal digit: 0 to 15 for "0"-"9", "a"-"f" and
// "A"-"F", -1 for every other character. An empty string has no digit and also gives -1.
std::int16_t ConvertHexChr(std::u16string_view str);

// Converts the command text `strText` into `bytByte`, replacing whatever the array held, and
// returns the number of bytes produced (0 to length / 2). When the count is at least 1 the array
// holds exactly the bytes to send; when it is 0 the array holds one byte 0x00 and nothing is to
// be sent. It is readCommandText below with the reading's bytes handed over, so the two always
// agree.
std::int16_t strHexToByteArray(std::u16string_view strText, std::vector<std::uint8_t>& bytByte);

// Why reading a command text ended.
enum class ReadEnd : std::uint8_t {
    Complete,       // nothing but spaces follows the last pair read (or the text is empty)
    NotHex,         // the next pair holds a character that is not a hexadecimal digit
    LoneCharacter,  // one character is left at the end, with none to pair it with
    TooLong,        // the text is longer than kMaxCommandTextLength and was not read at all
};

// A command text read the way strHexToByteArray reads it, with where and why reading ended, so
// that the window can tell the operator what a text will send.
struct CommandReading {
    std::vector<std::uint8_t> bytes;
    ReadEnd end = ReadEnd::Complete;
    // The characters that ended reading: the two of the pair for NotHex, the one left over for
    // LoneCharacter, none otherwise. They are those of the pair after the last byte read, the
    // pair numbered bytes.size() + 1.
    std::u16string stopChars;
    // Code units of the text read into `bytes`: the offset just behind the last digit read.
    std::size_t consumed = 0;
};

CommandReading readCommandText(std::u16string_view text);

// The digits of a byte as it is shown, by value: a byte is kUpperHexDigits[byte >> 4] followed by
// kUpperHexDigits[byte & 0x0F].
inline constexpr std::u16string_view kUpperHexDigits = u"0123456789ABCDEF";

// A received byte as it is shown: two upper-case hexadecimal digits, "00" to "FF".
std::u16string hexByteText(std::uint8_t byte);

// The canonical command text of `bytes`: upper-case pairs separated by one space ("A0 01 03 A4").
std::u16string canonicalCommandText(std::span<const std::uint8_t> bytes);

}  // namespace codec

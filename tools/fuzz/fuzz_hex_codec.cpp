// libFuzzer target for the command text codec. The input's bytes are read as UTF-16 code units
// (little-endian pairs; a last odd byte is dropped), so every text a box can hold is reachable,
// lone surrogates and texts past the length limit included. The invariants:
// - the count is at most half the text's length, and 0 for a text over the limit;
// - the array holds exactly `count` bytes, or one 0x00 byte when the count is 0;
// - the canonical text of those bytes converts back to the same bytes.
// Undefined behaviour is caught by the sanitizers the target is built with.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/hex_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    std::vector<std::uint8_t> bytes{0x11, 0x22};
    const std::int16_t count = codec::strHexToByteArray(text, bytes);

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

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The frames the relay board understands, held as command texts. The window takes the initial
// texts of its six command boxes from this table, and the all-on and all-off buttons send their
// fixed texts from it; every text goes through the codec at the moment of sending, so an edited
// box sends the edited frame. Nothing computes or checks a checksum while sending: the helpers
// below are for the command boxes' tooltips, tests, the simulated board and tools.
//
// Channel frame, 4 bytes:        A0, channel (01 or 02), operation (02 off, 03 on, 04 reverse),
//                                sum of the three bytes before it modulo 256.
// All-channels frame, 7 bytes:   24, five bytes sent as they stand, sum of the six bytes before
//                                it modulo 256. All on and all off differ in bytes 4 and 5
//                                (02 02 and 01 01) and the checksum.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace codec {

enum class Frame : std::uint8_t {
    Channel1On,
    Channel1Off,
    Channel1Reverse,
    Channel2On,
    Channel2Off,
    Channel2Reverse,
    AllOn,
    AllOff,
};

struct CommandText {
    Frame frame;
    std::u16string_view text;
};

inline constexpr std::array<CommandText, 8> kCommandTexts{{
    {Frame::Channel1On, u"A0 01 03 A4"},
    {Frame::Channel1Off, u"A0 01 02 A3"},
    {Frame::Channel1Reverse, u"A0 01 04 A5"},
    {Frame::Channel2On, u"A0 02 03 A5"},
    {Frame::Channel2Off, u"A0 02 02 A4"},
    {Frame::Channel2Reverse, u"A0 02 04 A6"},
    {Frame::AllOn, u"24 01 04 01 02 02 2E"},
    {Frame::AllOff, u"24 01 04 01 01 01 2C"},
}};

constexpr std::u16string_view commandText(Frame frame) {
    for (const CommandText& entry : kCommandTexts) {
        if (entry.frame == frame) {
            return entry.text;
        }
    }
    return {};
}

inline constexpr std::uint8_t kChannelStart = 0xA0;
inline constexpr std::uint8_t kAllChannelsStart = 0x24;
inline constexpr std::size_t kChannelFrameSize = 4;
inline constexpr std::size_t kAllChannelsFrameSize = 7;

enum class ChannelOp : std::uint8_t { Off = 0x02, On = 0x03, Reverse = 0x04 };

// Checksum of a channel frame: the sum of its first three bytes, modulo 256.
std::uint8_t channelChecksum(std::span<const std::uint8_t, 3> head);

// Checksum of an all-channels frame: the sum of its first six bytes, modulo 256.
std::uint8_t allChannelsChecksum(std::span<const std::uint8_t, 6> head);

// True when `frame` is a whole channel or all-channels frame (by its start byte and length)
// whose last byte is the checksum of the bytes before it.
bool hasValidChecksum(std::span<const std::uint8_t> frame);

// The relay frame of the table above that `bytes` is, judged by its length and every byte but
// the last, which is the checksum whether it is right or not; none when it is no relay frame.
std::optional<Frame> frameOf(std::span<const std::uint8_t> bytes);

// The checksum that belongs in the last byte of `frame`, a channel or all-channels frame by its
// start byte and length; none for any other bytes.
std::optional<std::uint8_t> expectedChecksum(std::span<const std::uint8_t> frame);

// The channel frame for `channel` (1 or 2) and `op`, checksum included.
std::array<std::uint8_t, kChannelFrameSize> channelFrame(std::uint8_t channel, ChannelOp op);

}  // namespace codec

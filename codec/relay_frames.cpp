// SPDX-License-Identifier: GPL-3.0-or-later
#include "codec/relay_frames.h"

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

#include "codec/hex_codec.h"

namespace codec {

namespace {

std::uint8_t sumModulo256(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0U) & 0xFFU);
}

}  // namespace

std::uint8_t channelChecksum(std::span<const std::uint8_t, 3> head) {
    return sumModulo256(head);
}

std::uint8_t allChannelsChecksum(std::span<const std::uint8_t, 6> head) {
    return sumModulo256(head);
}

std::optional<std::uint8_t> expectedChecksum(std::span<const std::uint8_t> frame) {
    const bool channel = frame.size() == kChannelFrameSize && frame.front() == kChannelStart;
    const bool allChannels =
        frame.size() == kAllChannelsFrameSize && frame.front() == kAllChannelsStart;
    if (!channel && !allChannels) {
        return std::nullopt;
    }
    return sumModulo256(frame.first(frame.size() - 1));
}

bool hasValidChecksum(std::span<const std::uint8_t> frame) {
    const std::optional<std::uint8_t> checksum = expectedChecksum(frame);
    return checksum && *checksum == frame.back();
}

std::optional<Frame> frameOf(std::span<const std::uint8_t> bytes) {
    // The table's texts, read once, are the one source of what each frame holds.
    static const std::vector<std::pair<Frame, std::vector<std::uint8_t>>> frames = [] {
        std::vector<std::pair<Frame, std::vector<std::uint8_t>>> read;
        read.reserve(kCommandTexts.size());
        for (const CommandText& entry : kCommandTexts) {
            read.emplace_back(entry.frame, readCommandText(entry.text).bytes);
        }
        return read;
    }();
    if (bytes.empty()) {
        return std::nullopt;
    }
    for (const auto& [frame, known] : frames) {
        if (known.size() == bytes.size() &&
            std::equal(bytes.begin(), bytes.end() - 1, known.begin())) {
            return frame;
        }
    }
    return std::nullopt;
}

std::array<std::uint8_t, kChannelFrameSize> channelFrame(std::uint8_t channel, ChannelOp op) {
    std::array<std::uint8_t, kChannelFrameSize> frame{kChannelStart, channel,
                                                      static_cast<std::uint8_t>(op), 0};
    frame[3] = channelChecksum(std::span<const std::uint8_t, 3>(frame.data(), 3));
    return frame;
}

}  // namespace codec

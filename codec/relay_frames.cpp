#include "codec/relay_frames.h"

#include <numeric>

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

bool hasValidChecksum(std::span<const std::uint8_t> frame) {
    const bool channel = frame.size() == kChannelFrameSize && frame.front() == kChannelStart;
    const bool allChannels =
        frame.size() == kAllChannelsFrameSize && frame.front() == kAllChannelsStart;
    return (channel || allChannels) && sumModulo256(frame.first(frame.size() - 1)) == frame.back();
}

std::array<std::uint8_t, kChannelFrameSize> channelFrame(std::uint8_t channel, ChannelOp op) {
    std::array<std::uint8_t, kChannelFrameSize> frame{kChannelStart, channel,
                                                      static_cast<std::uint8_t>(op), 0};
    frame[3] = channelChecksum(std::span<const std::uint8_t, 3>(frame.data(), 3));
    return frame;
}

}  // namespace codec

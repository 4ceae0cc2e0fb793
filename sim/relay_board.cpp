// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/relay_board.h"

#include "codec/relay_frames.h"

namespace sim {

namespace {

constexpr std::uint8_t kStateOff = 0x01;
constexpr std::uint8_t kStateOn = 0x02;

std::size_t frameSize(std::uint8_t startByte) {
    switch (startByte) {
        case codec::kChannelStart:
            return codec::kChannelFrameSize;
        case codec::kAllChannelsStart:
            return codec::kAllChannelsFrameSize;
        default:
            return 0;
    }
}

bool isState(std::uint8_t byte) {
    return byte == kStateOff || byte == kStateOn;
}

}  // namespace

RelayBoard::Result RelayBoard::feed(std::span<const std::uint8_t> bytes) {
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
    Result result;
    std::size_t position = 0;
    while (position < m_pending.size()) {
        const std::size_t size = frameSize(m_pending[position]);
        if (size == 0) {
            ++m_skipped;
            ++position;
            continue;
        }
        if (m_pending.size() - position < size) {
            break;
        }
        const std::span<const std::uint8_t> frame(m_pending.data() + position, size);
        if (!apply(frame)) {
            ++m_rejected;
            ++result.rejected;
            ++position;
            continue;
        }
        ++m_accepted;
        result.accepted.emplace_back(frame.begin(), frame.end());
        if (!m_silent) {
            result.reply.insert(result.reply.end(), frame.begin(), frame.end());
        }
        position += size;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(position));
    return result;
}

bool RelayBoard::relayOn(int channel) const {
    return (channel == 1 || channel == 2) && m_relays[static_cast<std::size_t>(channel - 1)];
}

bool RelayBoard::apply(std::span<const std::uint8_t> frame) {
    if (!codec::hasValidChecksum(frame)) {
        return false;
    }
    if (frame.front() == codec::kAllChannelsStart) {
        if (!isState(frame[4]) || !isState(frame[5])) {
            return false;
        }
        m_relays[0] = frame[4] == kStateOn;
        m_relays[1] = frame[5] == kStateOn;
        return true;
    }
    const std::uint8_t channel = frame[1];
    if (channel != 1 && channel != 2) {
        return false;
    }
    bool& relay = m_relays[channel - 1U];
    switch (static_cast<codec::ChannelOp>(frame[2])) {
        case codec::ChannelOp::Off:
            relay = false;
            return true;
        case codec::ChannelOp::On:
            relay = true;
            return true;
        case codec::ChannelOp::Reverse:
            relay = !relay;
            return true;
    }
    return false;
}

}  // namespace sim

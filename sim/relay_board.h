// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The relay board's side of the protocol, without any I/O: bytes from the line go in, the reply
// comes out, and the two relays switch as the frames say. RelayBoardSim (relay_board_sim.h) serves
// it on a serial line; tests drive it directly.
//
// Frames it understands (codec/relay_frames.h):
//   channel frame       A0, channel 01 or 02, operation 02 off / 03 on / 04 reverse, checksum
//   all-channels frame  24, three bytes taken as they stand, channel 1's new state, channel 2's
//                       new state (01 off, 02 on), checksum
// Reading bytes 4 and 5 of the all-channels frame as the relays' new states is this simulator's
// own convention, taken from the all-on and all-off frames the window sends.
//
// The reply: the board answers every accepted frame by sending the same frame back. This echo is
// this simulator's own convention, so that the window has a reply to show; it is not a claim about
// what real boards send. A silent board accepts and switches without answering.
//
// Framing: bytes outside a frame are skipped until a start byte (A0 or 24). A frame arrives in as
// many pieces as the line delivers it. A frame whose checksum is wrong, or whose channel,
// operation or state bytes are none of the above, is rejected: counted, not answered, nothing
// switched. Only its start byte is dropped, so a good frame that began inside it is still found;
// the price is that a stray start byte counts as one rejected frame, and that the board waits for
// a whole frame's worth of bytes after it before it looks again.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

class RelayBoard {
public:
    struct Result {
        // Bytes to send back, in order: the echoes of the accepted frames unless silent.
        std::vector<std::uint8_t> reply;
        // The frames accepted by this feed, in order.
        std::vector<std::vector<std::uint8_t>> accepted;
        std::size_t rejected = 0;
    };

    // Takes the next bytes from the line.
    Result feed(std::span<const std::uint8_t> bytes);

    // Whether the relay of `channel` (1 or 2) is on. Both start off.
    bool relayOn(int channel) const;

    std::size_t acceptedFrames() const { return m_accepted; }
    std::size_t rejectedFrames() const { return m_rejected; }
    // Bytes skipped outside any frame.
    std::size_t skippedBytes() const { return m_skipped; }

    void setSilent(bool silent) { m_silent = silent; }
    bool silent() const { return m_silent; }

private:
    // Switches the relays as `frame` says and returns true, or returns false for a frame the
    // board does not accept.
    bool apply(std::span<const std::uint8_t> frame);

    std::vector<std::uint8_t> m_pending;
    std::array<bool, 2> m_relays{};
    std::size_t m_accepted = 0;
    std::size_t m_rejected = 0;
    std::size_t m_skipped = 0;
    bool m_silent = false;
};

}  // namespace sim

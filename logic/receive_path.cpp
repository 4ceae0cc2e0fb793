// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/receive_path.h"

#include "codec/hex_codec.h"

namespace logic {

namespace {

constexpr char16_t kSpace = u' ';

// Spaces at one end of a box: how many, and whether the box holds nothing else.
struct EndSpaces {
    qsizetype count = 0;
    bool wholeText = false;
};

// Reads ever larger pieces of one end until something other than a space shows up, so the cost
// follows the number of spaces, not the length of the text.
template <typename ReadEnd>
EndSpaces countEndSpaces(ReadEnd readEnd, bool fromStart) {
    for (qsizetype piece = 16;; piece *= 2) {
        const QString part = readEnd(piece);
        qsizetype spaces = 0;
        while (spaces < part.size() &&
               part[fromStart ? spaces : part.size() - 1 - spaces] == kSpace) {
            ++spaces;
        }
        if (spaces < part.size()) {
            return {spaces, false};
        }
        if (part.size() < piece) {
            return {spaces, true};
        }
    }
}

}  // namespace

std::int16_t ReceivePath::MSComm1_OnComm() {
    const std::int16_t event = m_device.CommEvent();
    if (event != kComEvReceive) {
        return event;
    }
    m_device.InputMode(kInputModeBinary);
    // The count says how many bytes are waiting at least; Input returns those and any that came
    // in since, and all of them are shown.
    m_device.InBufferCount();
    const std::vector<std::uint8_t> bytes = m_device.Input();
    if (bytes.empty()) {
        return event;
    }
    QString entries(static_cast<qsizetype>(bytes.size()) * 3, Qt::Uninitialized);
    QChar* out = entries.data();
    for (const std::uint8_t byte : bytes) {
        *out++ = kSpace;
        *out++ = codec::kUpperHexDigits[byte >> 4];
        *out++ = codec::kUpperHexDigits[byte & 0x0F];
    }
    appendEntries(Control::Text1, entries);
    appendEntries(Control::Text4, entries);
    m_record.bytesReceived(bytes);
    return event;
}

void ReceivePath::appendEntries(Control box, QStringView entries) {
    const EndSpaces leading =
        countEndSpaces([&](qsizetype n) { return m_toolkit.textStart(box, n); }, true);
    if (leading.wholeText) {
        // Nothing but spaces (or nothing): the first byte stands alone behind its space, and the
        // second byte's trimming takes that space away again.
        if (leading.count > 0) {
            m_toolkit.removeStart(box, leading.count);
        }
        m_toolkit.appendText(box, entries.size() > 3 ? entries.mid(1) : entries);
        return;
    }
    const EndSpaces trailing =
        countEndSpaces([&](qsizetype n) { return m_toolkit.textEnd(box, n); }, false);
    if (leading.count > 0) {
        m_toolkit.removeStart(box, leading.count);
    }
    if (trailing.count > 0) {
        m_toolkit.removeEnd(box, trailing.count);
    }
    m_toolkit.appendText(box, entries);
}

}  // namespace logic

// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes/fake_traffic_record.h"

#include <utility>

#include "codec/hex_codec.h"

namespace fakes {

namespace {

QString hex(std::span<const std::uint8_t> bytes) {
    return QString::fromStdU16String(codec::canonicalCommandText(bytes));
}

}  // namespace

void FakeTrafficRecord::portOpened(std::int16_t port, const QString& settings) {
    add(QStringLiteral("opened COM%1 %2").arg(port).arg(settings));
}

void FakeTrafficRecord::portClosed(std::int16_t port) {
    add(QStringLiteral("closed COM%1").arg(port));
}

void FakeTrafficRecord::portLost(std::int16_t port, const QString& reason) {
    add(QStringLiteral("lost COM%1 %2").arg(port).arg(reason));
}

void FakeTrafficRecord::frameWritten(const QString& text, std::span<const std::uint8_t> written) {
    add(QStringLiteral("sent %1 | %2").arg(text, hex(written)));
}

void FakeTrafficRecord::bytesReceived(std::span<const std::uint8_t> bytes) {
    add(QStringLiteral("received ") + hex(bytes));
}

void FakeTrafficRecord::errorShown(const QString& message) {
    add(QStringLiteral("error ") + message);
}

QString FakeTrafficRecord::takeFailure() {
    return std::exchange(m_failure, QString());
}

void FakeTrafficRecord::add(const QString& entry) {
    if (m_stopped) {
        return;
    }
    if (m_events++ == failAt) {
        m_stopped = true;
        m_failure = kFailure;
        return;
    }
    entries << entry;
}

}  // namespace fakes

// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A traffic record in memory, for tests of what the window's logic records: each event as one
// entry ("opened COM1 9600,N,8,1", "sent A0 01 03 A4 | A0 01 03 A4", "received 0A FF",
// "error 串口不存在！"). It can be told to fail at an event, after which it keeps nothing and
// reports the failure once, as the file does.

#include <QString>
#include <QStringList>

#include "logic/traffic_record.h"

namespace fakes {

class FakeTrafficRecord final : public logic::TrafficRecord {
public:
    void portOpened(std::int16_t port, const QString& settings) override;
    void portClosed(std::int16_t port) override;
    void portLost(std::int16_t port, const QString& reason) override;
    void frameWritten(const QString& text, std::span<const std::uint8_t> written) override;
    void bytesReceived(std::span<const std::uint8_t> bytes) override;
    void errorShown(const QString& message) override;
    QString takeFailure() override;

    QStringList entries;
    // The event, counted from 0, whose writing fails; -1 for none.
    int failAt = -1;
    static inline const QString kFailure = QStringLiteral("记录失败");

private:
    void add(const QString& entry);

    int m_events = 0;
    bool m_stopped = false;
    QString m_failure;
};

}  // namespace fakes

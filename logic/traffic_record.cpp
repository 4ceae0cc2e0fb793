// SPDX-License-Identifier: GPL-3.0-or-later
#include "logic/traffic_record.h"

namespace logic {

namespace {

class NoTrafficRecord final : public TrafficRecord {
public:
    void portOpened(std::int16_t /*port*/, const QString& /*settings*/) override {}
    void portClosed(std::int16_t /*port*/) override {}
    void portLost(std::int16_t /*port*/, const QString& /*reason*/) override {}
    void frameWritten(const QString& /*text*/, std::span<const std::uint8_t> /*written*/) override {
    }
    void bytesReceived(std::span<const std::uint8_t> /*bytes*/) override {}
    void errorShown(const QString& /*message*/) override {}
    QString takeFailure() override { return {}; }
};

}  // namespace

TrafficRecord& noTrafficRecord() {
    static NoTrafficRecord none;
    return none;
}

}  // namespace logic

// SPDX-License-Identifier: GPL-3.0-or-later
#include "fakes/fake_comm_device.h"

#include <algorithm>

#include "codec/hex_codec.h"

namespace fakes {

namespace {

QString boolText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

bool ruleMatches(const QString& rule, const QString& entry) {
    return entry == rule || entry.startsWith(rule + u'=') || entry == rule + u'?';
}

}  // namespace

void FakeCommDevice::record(const QString& entry) {
    log.append(entry);
    const auto rule = std::find_if(m_rules.begin(), m_rules.end(),
                                   [&](const Rule& r) { return ruleMatches(r.operation, entry); });
    if (rule == m_rules.end()) {
        return;
    }
    if (rule->skip > 0) {
        --rule->skip;
        return;
    }
    const int number = rule->number;
    const QString description = rule->description;
    if (rule->once) {
        m_rules.erase(rule);
    }
    fail(number, description);
}

void FakeCommDevice::fail(int number, const QString& description) {
    ++errorsThrown;
    throw logic::CommError(number, description);
}

void FakeCommDevice::failOnce(const QString& operation, int number, const QString& description,
                              int skip) {
    m_rules.push_back({operation, number, description, true, skip});
}

void FakeCommDevice::failAlways(const QString& operation, int number, const QString& description) {
    m_rules.push_back({operation, number, description, false, 0});
}

void FakeCommDevice::CommPort(std::int16_t number) {
    record(QStringLiteral("CommPort=%1").arg(number));
    port = number;
}

std::int16_t FakeCommDevice::CommPort() {
    record(QStringLiteral("CommPort?"));
    return port;
}

void FakeCommDevice::Settings(const QString& text) {
    record(QStringLiteral("Settings=") + text);
    settings = text;
}

void FakeCommDevice::PortOpen(bool opening) {
    record(QStringLiteral("PortOpen=") + boolText(opening));
    if (!opening) {
        open = false;
        return;
    }
    if (open) {
        fail(logic::comm_error::kPortAlreadyOpen,
             QStringLiteral("COM%1 is already open").arg(port));
    }
    if (!existingPorts.contains(port)) {
        fail(logic::comm_error::kPortNotFound, QStringLiteral("COM%1 does not exist").arg(port));
    }
    if (busyPorts.contains(port)) {
        fail(logic::comm_error::kPortAlreadyOpen,
             QStringLiteral("COM%1 is held by another program").arg(port));
    }
    open = true;
    rxBuffer.clear();
}

bool FakeCommDevice::PortOpen() {
    record(QStringLiteral("PortOpen?"));
    return open;
}

void FakeCommDevice::OutBufferSize(std::int16_t size) {
    record(QStringLiteral("OutBufferSize=%1").arg(size));
    outBufferSize = size;
}

void FakeCommDevice::InBufferSize(std::int16_t size) {
    record(QStringLiteral("InBufferSize=%1").arg(size));
    inBufferSize = size;
}

void FakeCommDevice::InputMode(std::int32_t mode) {
    record(QStringLiteral("InputMode=%1").arg(mode));
    inputMode = mode;
}

void FakeCommDevice::InputLen(std::int16_t length) {
    record(QStringLiteral("InputLen=%1").arg(length));
    inputLen = length;
}

void FakeCommDevice::InBufferCount(std::int16_t count) {
    record(QStringLiteral("InBufferCount=%1").arg(count));
    if (open && count == 0) {
        rxBuffer.clear();
    }
}

std::int16_t FakeCommDevice::InBufferCount() {
    record(QStringLiteral("InBufferCount?"));
    if (!open) {
        return 0;
    }
    return static_cast<std::int16_t>(std::min<std::size_t>(rxBuffer.size(), 32767));
}

void FakeCommDevice::OutBufferCount(std::int16_t count) {
    record(QStringLiteral("OutBufferCount=%1").arg(count));
}

void FakeCommDevice::SThreshold(std::int16_t threshold) {
    record(QStringLiteral("SThreshold=%1").arg(threshold));
    sThreshold = threshold;
}

void FakeCommDevice::RThreshold(std::int16_t threshold) {
    record(QStringLiteral("RThreshold=%1").arg(threshold));
    rThreshold = threshold;
}

void FakeCommDevice::Output(std::span<const std::uint8_t> bytes) {
    record(QStringLiteral("Output=") +
           QString::fromStdU16String(codec::canonicalCommandText(bytes)));
    if (!open) {
        fail(logic::comm_error::kPortNotOpen, QStringLiteral("port not open"));
    }
    if (m_lost) {
        fail(8102, QStringLiteral("port lost"));
    }
    written.insert(written.end(), bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> FakeCommDevice::Input() {
    record(QStringLiteral("Input?"));
    if (!open) {
        fail(logic::comm_error::kPortNotOpen, QStringLiteral("port not open"));
    }
    std::vector<std::uint8_t> bytes(rxBuffer.begin(), rxBuffer.end());
    bytes.insert(bytes.end(), m_arrivingDuringInput.begin(), m_arrivingDuringInput.end());
    rxBuffer.clear();
    m_arrivingDuringInput.clear();
    return bytes;
}

bool FakeCommDevice::takeReceiveEvent() {
    if (!open || rThreshold < 1 || rxBuffer.size() < std::size_t(rThreshold)) {
        return false;
    }
    ++receiveEventsTaken;
    m_commEvent = logic::kComEvReceive;
    return true;
}

std::int16_t FakeCommDevice::CommEvent() {
    record(QStringLiteral("CommEvent?"));
    return m_commEvent;
}

QString FakeCommDevice::CommEventDescription() {
    record(QStringLiteral("CommEventDescription?"));
    return m_eventDescription;
}

void FakeCommDevice::receive(const std::vector<std::uint8_t>& bytes) {
    rxBuffer.insert(rxBuffer.end(), bytes.begin(), bytes.end());
}

void FakeCommDevice::arriveDuringInput(const std::vector<std::uint8_t>& bytes) {
    m_arrivingDuringInput.insert(m_arrivingDuringInput.end(), bytes.begin(), bytes.end());
}

void FakeCommDevice::raise(std::int16_t event, const QString& description) {
    m_events.push_back({event, description});
    if (!eventsHeld()) {
        deliverEvents();
    }
}

void FakeCommDevice::losePort(const QString& description) {
    m_lost = true;
    raise(logic::kComEvPortLost, description);
}

void FakeCommDevice::eventsReleased() {
    deliverEvents();
}

void FakeCommDevice::deliverEvents() {
    while (!m_events.empty() && !eventsHeld()) {
        const Event event = m_events.front();
        m_events.pop_front();
        if (event.kind == logic::kComEvPortLost) {
            open = false;
            m_lost = false;
        }
        m_commEvent = event.kind;
        if (event.kind != logic::kComEvReceive) {
            m_eventDescription = event.description;
        }
        raiseOnComm();
    }
}

}  // namespace fakes

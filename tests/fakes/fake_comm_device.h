// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A serial device in memory, for tests of the port logic. It keeps the rules of CommDevice
// (remembered properties, 8002/8005/8018), records every operation in order, and can be told to
// fail any chosen operation once or always.
//
// The log holds writes as "Name=value" ("CommPort=1", "PortOpen=True", "Output=A0 01 03 A4")
// and reads as "Name?" ("InBufferCount?", "Input?"). A failure rule names either a whole entry
// ("PortOpen=True") or an operation ("PortOpen", matching its writes and reads).
//
// Bytes put in the receive buffer wait there until the test raises their OnComm, or until the
// window takes the receive event itself before an action (takeReceiveEvent: due while the port
// is open, RThreshold is at least 1 and a byte waits). That question is counted in
// receiveEventsTaken, not logged, so the log of an action holds the device operations alone.

#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <vector>

#include "logic/comm_device.h"

namespace fakes {

class FakeCommDevice final : public logic::CommDevice {
public:
    void CommPort(std::int16_t number) override;
    std::int16_t CommPort() override;
    void Settings(const QString& text) override;
    void PortOpen(bool opening) override;
    bool PortOpen() override;
    void OutBufferSize(std::int16_t size) override;
    void InBufferSize(std::int16_t size) override;
    void InputMode(std::int32_t mode) override;
    void InputLen(std::int16_t length) override;
    void InBufferCount(std::int16_t count) override;
    std::int16_t InBufferCount() override;
    void OutBufferCount(std::int16_t count) override;
    void SThreshold(std::int16_t threshold) override;
    void RThreshold(std::int16_t threshold) override;
    void Output(std::span<const std::uint8_t> bytes) override;
    std::vector<std::uint8_t> Input() override;
    bool takeReceiveEvent() override;
    std::int16_t CommEvent() override;
    QString CommEventDescription() override;

    // Scripted failures. failOnce lets `skip` matching operations pass before the one that
    // fails (skip 1: the second PortOpen=True, the open after a probe).
    void failOnce(const QString& operation, int number, const QString& description, int skip = 0);
    void failAlways(const QString& operation, int number, const QString& description);
    void clearFailures() { m_rules.clear(); }

    // The board's side: bytes waiting in the receive buffer, and bytes that arrive while Input
    // runs (after InBufferCount was read), so that Input returns more than the count.
    void receive(const std::vector<std::uint8_t>& bytes);
    void arriveDuringInput(const std::vector<std::uint8_t>& bytes);
    // Raises OnComm with the given kind (kept back while events are held); the description is
    // what CommEventDescription gives.
    void raise(std::int16_t event, const QString& description = {});
    // The port goes away while open: OnComm with kComEvPortLost, which closes the port when it
    // is raised. Until then writes fail and bytes already received stay readable.
    void losePort(const QString& description);

    QStringList log;
    // Port numbers that exist, and those held by another program.
    QSet<std::int16_t> existingPorts{1, 2, 3, 4};
    QSet<std::int16_t> busyPorts;

    // The device's state, for assertions.
    bool open = false;
    std::int16_t port = 1;
    QString settings = QStringLiteral("9600,N,8,1");
    std::int16_t outBufferSize = 1024;
    std::int16_t inBufferSize = 1024;
    std::int32_t inputMode = logic::kInputModeBinary;
    std::int16_t inputLen = 0;
    std::int16_t sThreshold = 1;
    std::int16_t rThreshold = 1;
    std::vector<std::uint8_t> written;
    // Every error an operation threw, scripted or not.
    int errorsThrown = 0;
    // How often takeReceiveEvent found a receive event due.
    int receiveEventsTaken = 0;
    std::deque<std::uint8_t> rxBuffer;

protected:
    void eventsReleased() override;

private:
    struct Event {
        std::int16_t kind = 0;
        QString description;
    };
    struct Rule {
        QString operation;
        int number = 0;
        QString description;
        bool once = true;
        int skip = 0;
    };

    // Records the operation and throws if a rule says it fails.
    void record(const QString& entry);
    [[noreturn]] void fail(int number, const QString& description);
    void deliverEvents();

    std::vector<Rule> m_rules;
    std::vector<std::uint8_t> m_arrivingDuringInput;
    std::deque<Event> m_events;
    bool m_lost = false;
    std::int16_t m_commEvent = 0;
    QString m_eventDescription;
};

}  // namespace fakes

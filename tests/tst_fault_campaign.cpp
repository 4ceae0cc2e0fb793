// SPDX-License-Identifier: GPL-3.0-or-later
// A seeded, repeatable campaign of random event sequences against the window logic on the
// device and toolkit doubles, with device operations failing at random. After every event it
// checks what the operator relies on: no error escapes a handler, every error the device threw
// reaches the operator in exactly one message box (and a lost open port in one more), the
// port button's caption and the lamp agree, and the lamp is green only while the device's port
// is open. A failing sequence is shrunk to the shortest one that still fails and printed with
// its seed. Set ZEVA_CAMPAIGN_SEED to replay another seed.

#include <QRandomGenerator>
#include <QTest>
#include <exception>
#include <vector>

#include "fakes/fake_comm_device.h"
#include "fakes/fake_toolkit.h"
#include "logic/frmmain.h"
#include "logic/port_manager.h"

using fakes::FakeCommDevice;
using fakes::FakeToolkit;
using logic::Control;

namespace {

enum class Kind {
    Pick,        // a: list index 0-3, or -1 for a typed port name
    PortButton,  //
    Command,     // a: which of the eight command buttons
    Clear,       //
    Receive,     // a: number of bytes
    Lose,        // the open port goes away
    Unplug,      // a: port number; it no longer exists
    Plug,        // a: port number; it exists again
    Hold,        // a: port number; another program holds it
    Free,        // a: port number; nobody else holds it
    Fail,        // a: operation, b: error number; once or always
    Heal,        // no scripted failures any more
};

// Every operation that can fail. Reading CommEvent or CommEventDescription is not among them:
// they only report what the device already knows.
const QStringList kOperations{
    "CommPort",     "Settings",   "PortOpen=True", "PortOpen=False", "OutBufferSize",
    "InBufferSize", "InputMode",  "InputLen",      "InBufferCount",  "OutBufferCount",
    "SThreshold",   "RThreshold", "Output",        "Input",
};
const std::vector<int> kNumbers{8002, 8005, 380, 8018, 8101, 8102};

struct Event {
    Kind kind = Kind::PortButton;
    int a = 0;
    int b = 0;
    bool always = false;
};

QString describe(const Event& e) {
    switch (e.kind) {
        case Kind::Pick:
            return e.a < 0 ? QStringLiteral("type a port name")
                           : QStringLiteral("pick COM%1").arg(e.a + 1);
        case Kind::PortButton:
            return QStringLiteral("port button");
        case Kind::Command:
            return QStringLiteral("command button %1").arg(e.a);
        case Kind::Clear:
            return QStringLiteral("clear");
        case Kind::Receive:
            return QStringLiteral("receive %1 bytes").arg(e.a);
        case Kind::Lose:
            return QStringLiteral("lose the open port");
        case Kind::Unplug:
            return QStringLiteral("unplug COM%1").arg(e.a);
        case Kind::Plug:
            return QStringLiteral("plug COM%1").arg(e.a);
        case Kind::Hold:
            return QStringLiteral("another program holds COM%1").arg(e.a);
        case Kind::Free:
            return QStringLiteral("another program frees COM%1").arg(e.a);
        case Kind::Fail:
            return QStringLiteral("%1 fails with %2%3")
                .arg(kOperations[e.a])
                .arg(kNumbers[static_cast<std::size_t>(e.b)])
                .arg(e.always ? QStringLiteral(" always") : QString());
        case Kind::Heal:
            return QStringLiteral("no more failures");
    }
    return {};
}

Event randomEvent(QRandomGenerator& random) {
    Event e;
    e.kind = static_cast<Kind>(random.bounded(int(Kind::Heal) + 1));
    switch (e.kind) {
        case Kind::Pick:
            e.a = random.bounded(-1, 4);
            break;
        case Kind::Command:
            e.a = random.bounded(8);
            break;
        case Kind::Receive:
            e.a = random.bounded(1, 40);
            break;
        case Kind::Unplug:
        case Kind::Plug:
        case Kind::Hold:
        case Kind::Free:
            e.a = random.bounded(1, 5);
            break;
        case Kind::Fail:
            e.a = random.bounded(int(kOperations.size()));
            e.b = random.bounded(int(kNumbers.size()));
            e.always = random.bounded(5) == 0;
            break;
        default:
            break;
    }
    return e;
}

// Runs start-up and then `events`; returns why the run broke an invariant, or an empty text.
QString run(const std::vector<Event>& events, quint32 boxSeed) {
    FakeCommDevice device;
    FakeToolkit toolkit;
    logic::frmmain logic(device, toolkit);
    // Now and then bytes arrive while a message box is open.
    QRandomGenerator boxRandom(boxSeed);
    toolkit.onMessageBox = [&](const QString&) {
        if (device.open && boxRandom.bounded(3) == 0) {
            device.receive({0x5A});
            device.raise(logic::kComEvReceive);
        }
    };

    for (qsizetype i = -1; i < qsizetype(events.size()); ++i) {
        const qsizetype messagesBefore = toolkit.messages.size();
        const int errorsBefore = device.errorsThrown;
        const bool shownOpenBefore = toolkit.captions[Control::Command1] == logic::kOpenCaption;
        bool lossToReport = false;
        try {
            if (i < 0) {
                logic.Form_Load();
            } else {
                const Event& e = events[static_cast<std::size_t>(i)];
                switch (e.kind) {
                    case Kind::Pick:
                        if (e.a < 0) {
                            toolkit.comboIndex = -1;
                        } else {
                            toolkit.comboIndex = static_cast<std::int16_t>(e.a);
                            logic.Combo1_Click();
                        }
                        break;
                    case Kind::PortButton:
                        logic.Command1_Click();
                        break;
                    case Kind::Command: {
                        using Handler = void (logic::frmmain::*)(std::int16_t);
                        constexpr Handler channel[] = {
                            &logic::frmmain::on1_Click,      &logic::frmmain::off1_Click,
                            &logic::frmmain::reverse1_Click, &logic::frmmain::on2_Click,
                            &logic::frmmain::off2_Click,     &logic::frmmain::reverse2_Click};
                        if (e.a < 6) {
                            (logic.*channel[e.a])(0);
                        } else {
                            e.a == 6 ? logic.Command10_Click() : logic.Command11_Click();
                        }
                        break;
                    }
                    case Kind::Clear:
                        logic.Command4_Click();
                        break;
                    case Kind::Receive:
                        if (device.open) {
                            device.receive(std::vector<std::uint8_t>(std::size_t(e.a), 0xA5));
                            device.raise(logic::kComEvReceive);
                        }
                        break;
                    case Kind::Lose:
                        if (device.open) {
                            lossToReport = shownOpenBefore;
                            device.losePort(QStringLiteral("串口已断开"));
                        }
                        break;
                    case Kind::Unplug:
                        device.existingPorts.remove(static_cast<std::int16_t>(e.a));
                        break;
                    case Kind::Plug:
                        device.existingPorts.insert(static_cast<std::int16_t>(e.a));
                        break;
                    case Kind::Hold:
                        device.busyPorts.insert(static_cast<std::int16_t>(e.a));
                        break;
                    case Kind::Free:
                        device.busyPorts.remove(static_cast<std::int16_t>(e.a));
                        break;
                    case Kind::Fail: {
                        const QString& op = kOperations[e.a];
                        const int number = kNumbers[static_cast<std::size_t>(e.b)];
                        const QString text = QStringLiteral("失败 %1").arg(number);
                        e.always ? device.failAlways(op, number, text)
                                 : device.failOnce(op, number, text);
                        break;
                    }
                    case Kind::Heal:
                        device.clearFailures();
                        break;
                }
            }
        } catch (const std::exception& error) {
            return QStringLiteral("an error escaped a handler: ") + QString::fromUtf8(error.what());
        }

        const qsizetype shown = toolkit.messages.size() - messagesBefore;
        const qsizetype expected = (device.errorsThrown - errorsBefore) + (lossToReport ? 1 : 0);
        if (shown != expected) {
            return QStringLiteral("%1 message boxes for %2 failures to report")
                .arg(shown)
                .arg(expected);
        }
        const bool open = toolkit.showsOpen();
        if (!open && !toolkit.showsClosed()) {
            return QStringLiteral("the caption \"%1\" and the lamp disagree")
                .arg(toolkit.captions[Control::Command1]);
        }
        if (open && !device.open) {
            return QStringLiteral("the lamp is green on a closed port");
        }
        if (open != (logic.portManager().OpenedPort() != 0)) {
            return QStringLiteral("OpenedPort %1 while the port is shown %2")
                .arg(logic.portManager().OpenedPort())
                .arg(open ? QStringLiteral("open") : QStringLiteral("closed"));
        }
    }
    return {};
}

// Drops events one at a time for as long as the run still fails.
std::vector<Event> shrink(std::vector<Event> events, quint32 boxSeed) {
    for (bool smaller = true; smaller;) {
        smaller = false;
        for (std::size_t i = 0; i < events.size(); ++i) {
            std::vector<Event> candidate = events;
            candidate.erase(candidate.begin() + std::ptrdiff_t(i));
            if (!run(candidate, boxSeed).isEmpty()) {
                events = std::move(candidate);
                smaller = true;
                break;
            }
        }
    }
    return events;
}

}  // namespace

class TestFaultCampaign : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void randomSequencesKeepTheInvariants() {
        const quint32 seed = qEnvironmentVariableIsSet("ZEVA_CAMPAIGN_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("ZEVA_CAMPAIGN_SEED"))
                                 : 20261207U;
        QRandomGenerator random(seed);
        constexpr int kSequences = 10000;
        for (int sequence = 0; sequence < kSequences; ++sequence) {
            std::vector<Event> events(std::size_t(random.bounded(1, 30)));
            for (Event& e : events) {
                e = randomEvent(random);
            }
            const quint32 boxSeed = random.generate();
            const QString why = run(events, boxSeed);
            if (why.isEmpty()) {
                continue;
            }
            const std::vector<Event> shortest = shrink(events, boxSeed);
            QString report =
                QStringLiteral("seed %1, sequence %2: %3\nshortest sequence after start-up:")
                    .arg(seed)
                    .arg(sequence)
                    .arg(run(shortest, boxSeed));
            for (const Event& e : shortest) {
                report += QStringLiteral("\n  ") + describe(e);
            }
            QFAIL(qPrintable(report));
        }
    }
};

QTEST_GUILESS_MAIN(TestFaultCampaign)
#include "tst_fault_campaign.moc"

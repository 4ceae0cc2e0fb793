// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The command line of zeva-relay, the relay board from scripts: a list of actions done in order
// (each one frame, a pulse of two frames, or a pause), the options around them, or the port
// list. Reading it checks everything a run could trip over later, so that a script learns of a
// mistake from status 2 before any byte reaches the board. Every complaint names the position
// of the word it is about.

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "app/command_line.h"

namespace relay {

inline constexpr int kExitFrameFailed = 1;
inline constexpr int kExitBadUsage = app::kExitBadUsage;
inline constexpr int kExitPortFailed = 3;

using Duration = std::chrono::milliseconds;

struct Action {
    enum class Kind : std::uint8_t { Frame, Pulse, Wait };
    Kind kind = Kind::Frame;
    // As written, the words joined by spaces: "1 on", "send A0 01 03 A4", "pulse 1 250ms".
    QString written;
    // Frame: its command text and bytes. Pulse: those of the "on" frame, then of the "off" one.
    QString text;
    std::vector<std::uint8_t> bytes;
    QString offText;
    std::vector<std::uint8_t> offBytes;
    // Pulse and Wait.
    Duration duration{0};
};

enum class Expect : std::uint8_t { None, Echo };

struct Script {
    // "COMn" as the window numbers ports, or a device path made absolute.
    QString port = QStringLiteral("COM1");
    std::vector<Action> actions;
    // How many times the actions are done; 0 until stopped.
    std::int64_t repeat = 1;
    Expect expect = Expect::None;
    Duration timeout{500};
    // Done once when the run ends early.
    std::vector<Action> atExit;
    std::optional<QString> log;
    bool quiet = false;
};

struct ListPorts {
    bool json = false;
};

// Reads `arguments` (the program's name first). Help and version come back as an Exit with
// status 0; a mistake as one with kExitBadUsage and a message naming the word's position.
std::variant<Script, ListPorts, app::Exit> parseArguments(const QStringList& arguments);

// "250ms", "2s", "1.5s": whole milliseconds, or seconds to the millisecond. None for anything
// else, negative or beyond eleven days.
std::optional<Duration> parseDuration(const QString& text);

}  // namespace relay

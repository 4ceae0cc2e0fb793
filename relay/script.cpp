// SPDX-License-Identifier: GPL-3.0-or-later
#include "relay/script.h"

#include <QRegularExpression>
#include <array>

#include "codec/hex_codec.h"
#include "codec/relay_frames.h"

namespace relay {

namespace {

const char* const kHelp =
    "Usage: zeva-relay [OPTIONS] ACTION...\n"
    "       zeva-relay list [--json]\n"
    "\n"
    "Switches the relays of a two-channel relay board on a serial line (9600 baud, 8N1) and\n"
    "exits with a status a script can trust.\n"
    "\n"
    "ACTION (done in order, each one frame unless said):\n"
    "  1 on | 1 off | 1 reverse | 2 on | 2 off | 2 reverse | all on | all off\n"
    "  send TEXT              hexadecimal pairs as in the window's command boxes,\n"
    "                         e.g. send \"A0 01 03 A4\"\n"
    "  pulse CH DURATION      CH on, wait, CH off   (CH is 1, 2 or all)\n"
    "  wait DURATION          no frame: a pause     (DURATION: 250ms, 2s, 1.5s)\n"
    "\n"
    "OPTIONS:\n"
    "  -p, --port COMn|PATH   the port: a COM number as the window numbers them, or a device\n"
    "                         path (default COM1)\n"
    "  --repeat N             do the whole action list N times; 0 means until stopped\n"
    "  --expect echo|none     after each frame, wait for the board to answer with the same\n"
    "                         bytes (echo), or do not wait (none, the default)\n"
    "  --timeout DURATION     how long to wait for an expected reply (default 500ms)\n"
    "  --at-exit ACTIONS      actions sent once when the run ends early (a failure or a stop\n"
    "                         signal), e.g. --at-exit \"all off\", so no relay is left on\n"
    "  --log FILE             the traffic record, in the window's format (- for standard output)\n"
    "  -q, --quiet            no progress line and no summary\n"
    "  -h, --help             show this help and exit\n"
    "  --version              show the version and exit\n"
    "\n"
    "Standard output has one line per frame, tab-separated: time (ms), port, action, bytes,\n"
    "result (sent, echoed, no reply, wrong reply: XX ..., not sent: REASON, port lost).\n"
    "Exit status: 0 every frame went and every expected reply came; 1 a frame failed;\n"
    "2 usage error; 3 the port could not be opened; 128 + the signal's number when stopped\n"
    "(130 for SIGINT, 143 for SIGTERM).\n"
    "'zeva-relay list' prints COM1 to COM4 and any further port: COM, path, state (free, busy,\n"
    "absent), holder, by-id name, description. See zeva-relay(1) for examples.\n";

// One word of the command line and where it stands, for messages.
struct Word {
    QString text;
    QString where;
};

// A mistake: the message, which names the word's position.
struct Mistake {
    QString message;
};

app::Exit badUsage(const QString& message) {
    return {QStringLiteral("zeva-relay: %1\nTry 'zeva-relay --help'.\n").arg(message),
            kExitBadUsage};
}

QString about(const Word& word, const QString& what) {
    return QStringLiteral("%1, '%2': %3").arg(word.where, word.text, what);
}

// Reads words one at a time; `end` names where the words stop, for a missing one.
class Words {
public:
    Words(std::vector<Word> words, QString end)
        : m_words(std::move(words)), m_end(std::move(end)) {}

    bool atEnd() const { return m_next == m_words.size(); }
    const Word& peek() const { return m_words[m_next]; }
    const Word& take() { return m_words[m_next++]; }
    const Word& last() const { return m_words[m_next - 1]; }
    // The next word, or a mistake saying that `action` (as far as it was written) lacks `what`.
    const Word& need(const QString& action, const QString& what) {
        if (atEnd()) {
            throw Mistake{QStringLiteral("%1: '%2' needs %3").arg(m_end, action, what)};
        }
        return take();
    }

private:
    std::vector<Word> m_words;
    QString m_end;
    std::size_t m_next = 0;
};

struct Named {
    const char* channel;
    const char* operation;
    codec::Frame frame;
};

constexpr std::array<Named, 8> kNamedFrames{{
    {"1", "on", codec::Frame::Channel1On},
    {"1", "off", codec::Frame::Channel1Off},
    {"1", "reverse", codec::Frame::Channel1Reverse},
    {"2", "on", codec::Frame::Channel2On},
    {"2", "off", codec::Frame::Channel2Off},
    {"2", "reverse", codec::Frame::Channel2Reverse},
    {"all", "on", codec::Frame::AllOn},
    {"all", "off", codec::Frame::AllOff},
}};

bool isChannel(const QString& word) {
    return word == u"1" || word == u"2" || word == u"all";
}

// The command text and bytes of the table's frame for `channel` and `operation`; false when
// the pair names none (all reverse).
bool namedFrame(const QString& channel, const QString& operation, QString& text,
                std::vector<std::uint8_t>& bytes) {
    for (const Named& named : kNamedFrames) {
        if (channel == QLatin1String(named.channel) &&
            operation == QLatin1String(named.operation)) {
            const std::u16string_view command = codec::commandText(named.frame);
            text = QString::fromUtf16(command.data(), static_cast<qsizetype>(command.size()));
            codec::strHexToByteArray(command, bytes);
            return true;
        }
    }
    return false;
}

const Word& channelWord(Words& words, const QString& action) {
    const Word& word = words.need(action, QStringLiteral("a channel: 1, 2 or all"));
    if (!isChannel(word.text)) {
        throw Mistake{
            about(word, QStringLiteral("no such channel; the channels are 1, 2 and all"))};
    }
    return word;
}

Duration durationWord(Words& words, const QString& action) {
    const Word& word = words.need(action, QStringLiteral("a duration, such as 250ms, 2s or 1.5s"));
    const std::optional<Duration> duration = parseDuration(word.text);
    if (!duration) {
        throw Mistake{about(word, QStringLiteral("not a duration; write 250ms, 2s or 1.5s (whole "
                                                 "milliseconds, or seconds to the millisecond)"))};
    }
    return *duration;
}

Action readAction(Words& words) {
    const Word& first = words.take();
    Action action;
    if (first.text == u"send") {
        const Word& text = words.need(QStringLiteral("send"),
                                      QStringLiteral("the frame's text, such as \"A0 01 03 A4\""));
        const codec::CommandReading reading = codec::readCommandText(text.text.toStdU16String());
        if (reading.bytes.empty()) {
            throw Mistake{about(text, QStringLiteral("converts to no byte at all, so nothing "
                                                     "would be sent; write hexadecimal pairs "
                                                     "such as \"A0 01 03 A4\""))};
        }
        if (reading.end != codec::ReadEnd::Complete) {
            throw Mistake{
                about(text, QStringLiteral("only the first %1 byte(s) convert, and the rest "
                                           "would not be sent; write whole hexadecimal pairs")
                                .arg(reading.bytes.size()))};
        }
        action.written = u"send " + text.text;
        action.text = text.text;
        action.bytes = reading.bytes;
        return action;
    }
    if (first.text == u"wait") {
        action.kind = Action::Kind::Wait;
        action.duration = durationWord(words, first.text);
        action.written = first.text + u' ' + words.last().text;
        return action;
    }
    if (first.text == u"pulse") {
        const Word& channel = channelWord(words, first.text);
        action.kind = Action::Kind::Pulse;
        namedFrame(channel.text, QStringLiteral("on"), action.text, action.bytes);
        namedFrame(channel.text, QStringLiteral("off"), action.offText, action.offBytes);
        action.duration = durationWord(words, u"pulse " + channel.text);
        action.written = QStringLiteral("pulse %1 %2").arg(channel.text, words.last().text);
        return action;
    }
    if (isChannel(first.text)) {
        const Word& operation =
            words.need(first.text, QStringLiteral("on, off or reverse after it"));
        if (!namedFrame(first.text, operation.text, action.text, action.bytes)) {
            throw Mistake{about(operation, first.text == u"all" && operation.text == u"reverse"
                                               ? QStringLiteral("all channels cannot be reversed "
                                                                "in one frame")
                                               : QStringLiteral("not on, off or reverse"))};
        }
        action.written = first.text + u' ' + operation.text;
        return action;
    }
    static const QRegularExpression number(QStringLiteral("^[0-9]+$"));
    if (number.match(first.text).hasMatch()) {
        throw Mistake{
            about(first, QStringLiteral("no such channel; the channels are 1, 2 and all"))};
    }
    throw Mistake{about(first, QStringLiteral("not an action; the actions are 1 on, 1 off, "
                                              "1 reverse (and the same for 2), all on, all off, "
                                              "send TEXT, pulse CH DURATION and wait DURATION"))};
}

// The words of --at-exit's value, numbered within it.
std::vector<Action> readAtExit(const Word& value) {
    std::vector<Word> words;
    const QStringList parts = value.text.split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        words.push_back({parts[i], QStringLiteral("%1, word %2").arg(value.where).arg(i + 1)});
    }
    Words reader(std::move(words), value.where);
    std::vector<Action> actions;
    while (!reader.atEnd()) {
        actions.push_back(readAction(reader));
    }
    if (actions.empty()) {
        throw Mistake{about(value, QStringLiteral("--at-exit needs at least one action"))};
    }
    return actions;
}

// An option's value: "--name=value" carries it, otherwise the next word does.
Word optionValue(Words& words, const Word& option, const QString& name,
                 const std::optional<QString>& joined) {
    if (joined) {
        return {*joined, option.where};
    }
    if (words.atEnd()) {
        throw Mistake{about(option, QStringLiteral("%1 needs a value").arg(name))};
    }
    return words.take();
}

QString versionText() {
    return QStringLiteral(
               "zeva-relay %1\n"
               "Copyright (C) 2026 The ZEVA relay test developers\n"
               "License GPL-3.0-or-later: GNU GPL version 3 or later "
               "<https://gnu.org/licenses/gpl.html>.\n"
               "This is free software: you are free to change and redistribute it.\n"
               "There is NO WARRANTY, to the extent permitted by law.\n")
        .arg(QStringLiteral(PROJECT_VERSION_TEXT));
}

QString portName(const QString& value) {
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]{0,3})$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(value);
    if (match.hasMatch()) {
        return u"COM" + match.captured(1);
    }
    return app::devicePath(value);
}

std::variant<Script, ListPorts, app::Exit> parse(const QStringList& arguments) {
    std::vector<Word> all;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        all.push_back({arguments[i], QStringLiteral("argument %1").arg(i)});
    }
    Words words(std::move(all), QStringLiteral("at the end"));
    if (!words.atEnd() && words.peek().text == u"list") {
        words.take();
        ListPorts list;
        while (!words.atEnd()) {
            const Word& word = words.take();
            if (word.text != u"--json" || list.json) {
                throw Mistake{about(word, QStringLiteral("'list' takes only --json"))};
            }
            list.json = true;
        }
        return list;
    }
    Script script;
    bool portSet = false;
    bool expectSet = false;
    bool timeoutSet = false;
    bool repeatSet = false;
    bool optionsEnd = false;
    while (!words.atEnd()) {
        const Word& word = words.peek();
        if (optionsEnd || !word.text.startsWith(u'-') || word.text.size() < 2) {
            script.actions.push_back(readAction(words));
            continue;
        }
        const Word option = words.take();
        if (option.text == u"--") {
            optionsEnd = true;
            continue;
        }
        QString name = option.text;
        std::optional<QString> joined;
        if (name.startsWith(u"--") && name.contains(u'=')) {
            joined = name.section(u'=', 1);
            name = name.section(u'=', 0, 0);
        }
        const auto once = [&option](bool& set) {
            if (std::exchange(set, true)) {
                throw Mistake{about(option, QStringLiteral("given twice"))};
            }
        };
        const auto noValue = [&] {
            if (joined) {
                throw Mistake{about(option, QStringLiteral("takes no value"))};
            }
        };
        if (name == u"-h" || name == u"--help") {
            return app::Exit{QString::fromLatin1(kHelp), 0};
        }
        if (name == u"--version") {
            return app::Exit{versionText(), 0};
        }
        if (name == u"-q" || name == u"--quiet") {
            noValue();
            script.quiet = true;
        } else if (name == u"-p" || name == u"--port") {
            once(portSet);
            const Word value = optionValue(words, option, name, joined);
            if (value.text.isEmpty()) {
                throw Mistake{
                    about(value, QStringLiteral("not a port; write COMn or a device path"))};
            }
            script.port = portName(value.text);
        } else if (name == u"--repeat") {
            once(repeatSet);
            const Word value = optionValue(words, option, name, joined);
            static const QRegularExpression count(QStringLiteral("^[0-9]{1,15}$"));
            if (!count.match(value.text).hasMatch()) {
                throw Mistake{about(value, QStringLiteral("--repeat takes a whole number, 0 or "
                                                          "more (0 repeats until stopped)"))};
            }
            script.repeat = value.text.toLongLong();
        } else if (name == u"--expect") {
            once(expectSet);
            const Word value = optionValue(words, option, name, joined);
            if (value.text != u"echo" && value.text != u"none") {
                throw Mistake{about(value, QStringLiteral("--expect takes echo or none"))};
            }
            script.expect = value.text == u"echo" ? Expect::Echo : Expect::None;
        } else if (name == u"--timeout") {
            once(timeoutSet);
            const Word value = optionValue(words, option, name, joined);
            const std::optional<Duration> timeout = parseDuration(value.text);
            if (!timeout || timeout->count() == 0) {
                throw Mistake{about(value, QStringLiteral("not a duration above 0; write 250ms, "
                                                          "2s or 1.5s"))};
            }
            script.timeout = *timeout;
        } else if (name == u"--at-exit") {
            if (!script.atExit.empty()) {
                throw Mistake{about(option, QStringLiteral("given twice"))};
            }
            script.atExit = readAtExit(optionValue(words, option, name, joined));
        } else if (name == u"--log") {
            if (script.log) {
                throw Mistake{about(option, QStringLiteral("given twice"))};
            }
            const Word value = optionValue(words, option, name, joined);
            if (value.text.isEmpty()) {
                throw Mistake{about(value, QStringLiteral("--log needs a file name, or - for "
                                                          "standard output"))};
            }
            script.log = value.text;
        } else {
            throw Mistake{about(option, QStringLiteral("unknown option"))};
        }
    }
    if (script.actions.empty()) {
        throw Mistake{QStringLiteral("no action given; try zeva-relay 1 on")};
    }
    return script;
}

}  // namespace

std::variant<Script, ListPorts, app::Exit> parseArguments(const QStringList& arguments) {
    try {
        return parse(arguments);
    } catch (const Mistake& mistake) {
        return badUsage(mistake.message);
    }
}

std::optional<Duration> parseDuration(const QString& text) {
    // At most 999,999,999 ms either way, which QTimer's int of milliseconds holds.
    static const QRegularExpression form(
        QStringLiteral("^(?:([0-9]{1,9})ms|([0-9]{1,6})(?:\\.([0-9]{1,3}))?s)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    if (match.hasCaptured(1)) {
        return Duration(match.captured(1).toLongLong());
    }
    const QString fraction = match.captured(3).leftJustified(3, u'0');
    return Duration(match.captured(2).toLongLong() * 1000 + fraction.toLongLong());
}

}  // namespace relay

// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/command_line.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <array>

namespace app {

namespace {

constexpr int kLastPort = 4;

QString usageHint() {
    return QStringLiteral("Try 'zeva-relay-test --help'.");
}

Exit badUsage(const QString& message) {
    return {QStringLiteral("zeva-relay-test: %1\n%2\n").arg(message, usageHint()), kExitBadUsage};
}

// The options QApplication takes for itself (and its X11 platform plugin), each with one dash or
// two. They are left for QApplication to read, which needs a display; this parser only steps
// over them, so that help, version and usage errors need none.
constexpr std::array kQtOptionsWithValue{"platform",
                                         "platformpluginpath",
                                         "platformtheme",
                                         "plugin",
                                         "qwindowgeometry",
                                         "geometry",
                                         "qwindowtitle",
                                         "title",
                                         "qwindowicon",
                                         "icon",
                                         "session",
                                         "style",
                                         "stylesheet",
                                         "display",
                                         "name",
                                         "visual"};
constexpr std::array kQtFlags{"reverse", "widgetcount", "testability", "qmljsdebugger",
                              "nograb",  "dograb",      "sync"};
constexpr std::array kQtOptionsJoined{"style=", "stylesheet=", "qmljsdebugger="};

// The option's name when `argument` is one of Qt's; empty otherwise.
QString qtOptionName(const QString& argument) {
    if (!argument.startsWith(u'-')) {
        return {};
    }
    QString name = argument.mid(argument.startsWith(u"--") ? 2 : 1);
    const auto is = [&name](const char* option) { return name == QLatin1String(option); };
    const auto joins = [&name](const char* option) {
        return name.startsWith(QLatin1String(option));
    };
    if (std::any_of(kQtOptionsWithValue.begin(), kQtOptionsWithValue.end(), is) ||
        std::any_of(kQtFlags.begin(), kQtFlags.end(), is) ||
        std::any_of(kQtOptionsJoined.begin(), kQtOptionsJoined.end(), joins)) {
        return name;
    }
    return {};
}

bool takesValue(const QString& name) {
    return std::any_of(kQtOptionsWithValue.begin(), kQtOptionsWithValue.end(),
                       [&name](const char* option) { return name == QLatin1String(option); });
}

// "000A" for a line feed.
QString codeOf(QChar c) {
    return QString::number(c.unicode(), 16).toUpper().rightJustified(4, u'0');
}

// `value` with each control character written as <U+XXXX>, so that a message stays on its line.
QString shownControls(const QString& value) {
    QString shown;
    for (const QChar c : value) {
        if (c.unicode() < 0x20) {
            shown += QStringLiteral("<U+%1>").arg(codeOf(c));
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

// A name without '/' is a device under /dev, as Qt names ports; anything else is a path,
// relative to the current directory, made absolute here so that it names the same file whatever
// the program does later.
QString devicePath(const QString& path) {
    if (!path.contains(u'/')) {
        return u"/dev/" + path;
    }
    return QDir::current().absoluteFilePath(path);
}

std::variant<Options, Exit> parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tests two-channel relay boards over a serial line (9600 baud, 8N1).\n"
        "COM1 to COM4 are the machine's serial ports in this order: /dev/ttyS*, /dev/ttyUSB*,\n"
        "/dev/ttyACM*, then any other; --port binds a number to a device of your choice.\n"
        "Qt's own options, such as -platform, -style and -reverse, are accepted too."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Bind COM number n (1 to 4) to the serial device PATH. Repeatable. A PATH "
                       "without '/' is a device under /dev, as Qt names ports (ttyUSB0 is "
                       "/dev/ttyUSB0); any other PATH is a file path, relative to the current "
                       "directory unless it starts with '/'."),
        QStringLiteral("COMn=PATH"));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Bind COM1 to a simulated relay board, to try the program without one."));
    const QCommandLineOption listPorts(
        QStringLiteral("list-ports"),
        QStringLiteral("Print the serial port each COM number stands for now, with what is known "
                       "of it, and exit."));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Append a timestamped record of the traffic to FILE, one line per event "
                       "(- for standard output). See the manual page for its fields."),
        QStringLiteral("FILE"));
    const QCommandLineOption reconnect(
        QStringLiteral("reconnect"),
        QStringLiteral("When the open port goes away, wait for the same device without a message "
                       "box and open it again as soon as it is back: a bound COM number follows "
                       "its PATH, any other the adapter it opened, by its /dev/serial/by-id name "
                       "or serial number. Also waits for a port missing or busy at start-up."));
    parser.addOptions({help, version, port, simulate, listPorts, log, reconnect});

    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString name = i == 0 ? QString() : qtOptionName(arguments[i]);
        if (name.isEmpty()) {
            ours.append(arguments[i]);
        } else if (takesValue(name) && ++i == arguments.size()) {
            return badUsage(QStringLiteral("Missing value after '%1'.").arg(arguments.last()));
        }
    }

    if (!parser.parse(ours)) {
        return badUsage(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return badUsage(QStringLiteral("unexpected argument '%1'.")
                            .arg(parser.positionalArguments().constFirst()));
    }
    if (parser.isSet(help)) {
        // The parser's own help names the program by the path it was started with.
        QString text = parser.helpText();
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                     QStringLiteral("Usage: zeva-relay-test"));
        return Exit{text, 0};
    }
    if (parser.isSet(version)) {
        return Exit{QStringLiteral("zeva-relay-test %1\n"
                                   "Copyright (C) 2026 The ZEVA relay test developers\n"
                                   "License GPL-3.0-or-later: GNU GPL version 3 or later "
                                   "<https://gnu.org/licenses/gpl.html>.\n"
                                   "This is free software: you are free to change and "
                                   "redistribute it.\n"
                                   "There is NO WARRANTY, to the extent permitted by law.\n")
                        .arg(QStringLiteral(PROJECT_VERSION_TEXT)),
                    0};
    }

    Options options;
    options.simulate = parser.isSet(simulate);
    options.listPorts = parser.isSet(listPorts);
    options.reconnect = parser.isSet(reconnect);
    if (options.simulate && options.listPorts) {
        return badUsage(
            QStringLiteral("--list-ports lists the machine's ports; the simulated "
                           "board exists only while the program runs."));
    }
    if (parser.isSet(log)) {
        const QStringList files = parser.values(log);
        if (files.size() > 1) {
            return badUsage(QStringLiteral("--log is given twice."));
        }
        if (files.constFirst().isEmpty()) {
            return badUsage(QStringLiteral("--log needs a file name, or - for standard output."));
        }
        options.log = files.constFirst();
    }
    static const QRegularExpression binding(QStringLiteral("^COM([^=]*)=(.+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression portNumber(QStringLiteral("^[1-9][0-9]{0,3}$"));
    for (const QString& value : parser.values(port)) {
        // A control character names no device anyone meant, and the pattern's '$' would let a
        // final newline through unseen.
        if (const auto control = std::find_if(value.begin(), value.end(),
                                              [](QChar c) { return c.unicode() < 0x20; });
            control != value.end()) {
            return badUsage(QStringLiteral("the binding '%1' holds a control character (U+%2); "
                                           "a device path has none.")
                                .arg(shownControls(value))
                                .arg(codeOf(*control)));
        }
        const QRegularExpressionMatch match = binding.match(value);
        if (!match.hasMatch()) {
            return badUsage(QStringLiteral("malformed binding '%1': expected COMn=PATH, "
                                           "such as COM1=/dev/ttyUSB0.")
                                .arg(value));
        }
        // Checked as text first: a number too large for an int must not wrap into the range.
        const QString digits = match.captured(1);
        const int number = portNumber.match(digits).hasMatch() ? digits.toInt() : 0;
        if (number < 1 || number > kLastPort) {
            return badUsage(QStringLiteral("COM%1 is not in the port list, which holds COM1 to "
                                           "COM%2.")
                                .arg(digits)
                                .arg(kLastPort));
        }
        const auto key = static_cast<std::int16_t>(number);
        if (options.bindings.contains(key) || (options.simulate && key == 1)) {
            return badUsage(QStringLiteral("COM%1 is bound twice.").arg(number));
        }
        options.bindings[key] = devicePath(match.captured(2));
    }
    return options;
}

}  // namespace app

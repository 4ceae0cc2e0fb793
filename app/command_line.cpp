#include "app/command_line.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace app {

namespace {

constexpr int kLastPort = 4;

QString usageHint() {
    return QStringLiteral("Try 'zeva-relay-test --help'.");
}

Exit badUsage(const QString& message) {
    return {QStringLiteral("zeva-relay-test: %1\n%2\n").arg(message, usageHint()), kExitBadUsage};
}

}  // namespace

std::variant<Options, Exit> parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tests two-channel relay boards over a serial line (9600 baud, 8N1).\n"
        "COM1 to COM4 are the machine's serial ports in this order: /dev/ttyS*, /dev/ttyUSB*,\n"
        "/dev/ttyACM*, then any other; --port binds a number to a device of your choice."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Bind COM number n (1 to 4) to the serial device PATH. Repeatable."),
        QStringLiteral("COMn=PATH"));
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Bind COM1 to a simulated relay board, to try the program without one."));
    const QCommandLineOption log(
        QStringLiteral("log"),
        QStringLiteral("Append a timestamped record of the traffic to FILE, one line per event "
                       "(- for standard output). See the manual page for its fields."),
        QStringLiteral("FILE"));
    parser.addOptions({help, version, port, simulate, log});

    if (!parser.parse(arguments)) {
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
        return Exit{
            QStringLiteral("zeva-relay-test %1\n").arg(QStringLiteral(PROJECT_VERSION_TEXT)), 0};
    }

    Options options;
    options.simulate = parser.isSet(simulate);
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
    static const QRegularExpression binding(QStringLiteral("^COM([1-9][0-9]*)=(.+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    for (const QString& value : parser.values(port)) {
        const QRegularExpressionMatch match = binding.match(value);
        if (!match.hasMatch()) {
            return badUsage(QStringLiteral("malformed binding '%1': expected COMn=PATH, "
                                           "such as COM1=/dev/ttyUSB0.")
                                .arg(value));
        }
        const int number = match.captured(1).toInt();
        if (number > kLastPort) {
            return badUsage(QStringLiteral("COM%1 is not in the port list, which holds COM1 to "
                                           "COM%2.")
                                .arg(number)
                                .arg(kLastPort));
        }
        const auto key = static_cast<std::int16_t>(number);
        if (options.bindings.contains(key) || (options.simulate && key == 1)) {
            return badUsage(QStringLiteral("COM%1 is bound twice.").arg(number));
        }
        options.bindings[key] = match.captured(2);
    }
    return options;
}

}  // namespace app

// SPDX-License-Identifier: GPL-3.0-or-later
// zeva-relay's command line: the frames each action stands for, the options, the durations, and
// every mistake refused with status 2 and the position of the word it is about.

#include <QTest>

#include "codec/hex_codec.h"
#include "relay/script.h"

using relay::Action;

namespace {

QStringList argumentsOf(const QStringList& words) {
    return QStringList{QStringLiteral("zeva-relay")} + words;
}

QString hex(const std::vector<std::uint8_t>& bytes) {
    const std::u16string text = codec::canonicalCommandText(bytes);
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Each action as "written: bytes" (a pulse with its two frames, a pause with its duration).
QStringList described(const std::vector<Action>& actions) {
    QStringList lines;
    for (const Action& action : actions) {
        switch (action.kind) {
            case Action::Kind::Frame:
                lines << action.written + u": " + hex(action.bytes);
                break;
            case Action::Kind::Pulse:
                lines << QStringLiteral("%1: %2, %3 ms, %4")
                             .arg(action.written, hex(action.bytes))
                             .arg(action.duration.count())
                             .arg(hex(action.offBytes));
                break;
            case Action::Kind::Wait:
                lines
                    << QStringLiteral("%1: %2 ms").arg(action.written).arg(action.duration.count());
                break;
        }
    }
    return lines;
}

}  // namespace

class TestRelayScript : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void actions_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QStringList>("actions");
        QTest::newRow("1 on") << QStringList{"1", "on"} << QStringList{"1 on: A0 01 03 A4"};
        QTest::newRow("1 off") << QStringList{"1", "off"} << QStringList{"1 off: A0 01 02 A3"};
        QTest::newRow("1 reverse")
            << QStringList{"1", "reverse"} << QStringList{"1 reverse: A0 01 04 A5"};
        QTest::newRow("2 on") << QStringList{"2", "on"} << QStringList{"2 on: A0 02 03 A5"};
        QTest::newRow("2 off") << QStringList{"2", "off"} << QStringList{"2 off: A0 02 02 A4"};
        QTest::newRow("2 reverse")
            << QStringList{"2", "reverse"} << QStringList{"2 reverse: A0 02 04 A6"};
        QTest::newRow("all on") << QStringList{"all", "on"}
                                << QStringList{"all on: 24 01 04 01 02 02 2E"};
        QTest::newRow("all off") << QStringList{"all", "off"}
                                 << QStringList{"all off: 24 01 04 01 01 01 2C"};
        QTest::newRow("send, lenient text")
            << QStringList{"send", "a0  0103A4"} << QStringList{"send a0  0103A4: A0 01 03 A4"};
        QTest::newRow("pulse") << QStringList{"pulse", "2", "1.5s"}
                               << QStringList{"pulse 2 1.5s: A0 02 03 A5, 1500 ms, A0 02 02 A4"};
        QTest::newRow("pulse all") << QStringList{"pulse", "all", "250ms"}
                                   << QStringList{
                                          "pulse all 250ms: 24 01 04 01 02 02 2E, 250 "
                                          "ms, 24 01 04 01 01 01 2C"};
        QTest::newRow("wait") << QStringList{"wait", "2s"} << QStringList{"wait 2s: 2000 ms"};
        QTest::newRow("several, in order") << QStringList{"1", "on", "2", "off", "all", "on"}
                                           << QStringList{"1 on: A0 01 03 A4", "2 off: A0 02 02 A4",
                                                          "all on: 24 01 04 01 02 02 2E"};
        QTest::newRow("options between actions")
            << QStringList{"1", "on", "-q", "wait", "250ms", "--expect=echo", "1", "off"}
            << QStringList{"1 on: A0 01 03 A4", "wait 250ms: 250 ms", "1 off: A0 01 02 A3"};
        QTest::newRow("after --, a word with a dash is an action")
            << QStringList{"--", "wait", "0ms"} << QStringList{"wait 0ms: 0 ms"};
    }
    void actions() {
        QFETCH(QStringList, words);
        QFETCH(QStringList, actions);
        const auto parsed = relay::parseArguments(argumentsOf(words));
        QVERIFY(std::holds_alternative<relay::Script>(parsed));
        QCOMPARE(described(std::get<relay::Script>(parsed).actions), actions);
    }

    void options() {
        const auto parsed = relay::parseArguments(argumentsOf(
            {"--port", "com3", "--repeat", "1000", "--expect", "echo", "--timeout", "1.5s",
             "--at-exit", "all off  1 off", "--log", "run.log", "-q", "1", "on"}));
        QVERIFY(std::holds_alternative<relay::Script>(parsed));
        const relay::Script& script = std::get<relay::Script>(parsed);
        QCOMPARE(script.port, QStringLiteral("COM3"));
        QCOMPARE(script.repeat, 1000);
        QCOMPARE(script.expect, relay::Expect::Echo);
        QCOMPARE(script.timeout.count(), 1500);
        QCOMPARE(described(script.atExit),
                 (QStringList{"all off: 24 01 04 01 01 01 2C", "1 off: A0 01 02 A3"}));
        QCOMPARE(script.log, QStringLiteral("run.log"));
        QVERIFY(script.quiet);

        const auto defaults = relay::parseArguments(argumentsOf({"1", "on"}));
        const relay::Script& plain = std::get<relay::Script>(defaults);
        QCOMPARE(plain.port, QStringLiteral("COM1"));
        QCOMPARE(plain.repeat, 1);
        QCOMPARE(plain.expect, relay::Expect::None);
        QCOMPARE(plain.timeout.count(), 500);
        QVERIFY(plain.atExit.empty());
        QVERIFY(!plain.log);
        QVERIFY(!plain.quiet);

        const auto path = relay::parseArguments(argumentsOf({"-p", "ttyUSB0", "1", "on"}));
        QCOMPARE(std::get<relay::Script>(path).port, QStringLiteral("/dev/ttyUSB0"));
        const auto endless = relay::parseArguments(argumentsOf({"--repeat=0", "1", "on"}));
        QCOMPARE(std::get<relay::Script>(endless).repeat, 0);
    }

    void list_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<bool>("json");
        QTest::newRow("lines") << QStringList{"list"} << false;
        QTest::newRow("json") << QStringList{"list", "--json"} << true;
    }
    void list() {
        QFETCH(QStringList, words);
        QFETCH(bool, json);
        const auto parsed = relay::parseArguments(argumentsOf(words));
        QVERIFY(std::holds_alternative<relay::ListPorts>(parsed));
        QCOMPARE(std::get<relay::ListPorts>(parsed).json, json);
    }

    void helpAndVersion_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("start");
        QTest::newRow("help") << QStringList{"--help"} << "Usage: zeva-relay [OPTIONS] ACTION...";
        QTest::newRow("-h among actions") << QStringList{"1", "on", "-h"} << "Usage: zeva-relay";
        QTest::newRow("version") << QStringList{"--version"} << "zeva-relay 1.";
    }
    void helpAndVersion() {
        QFETCH(QStringList, words);
        QFETCH(QString, start);
        const auto parsed = relay::parseArguments(argumentsOf(words));
        QVERIFY(std::holds_alternative<app::Exit>(parsed));
        QCOMPARE(std::get<app::Exit>(parsed).status, 0);
        QVERIFY2(std::get<app::Exit>(parsed).text.startsWith(start),
                 qPrintable(std::get<app::Exit>(parsed).text));
    }

    void mistakes_data() {
        QTest::addColumn<QStringList>("words");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const QStringList& words, const char* message) {
            QTest::newRow(name) << words << QString::fromUtf8(message);
        };
        row("no action", {}, "no action given");
        row("only options", {"-q"}, "no action given");
        row("unknown action", {"1", "on", "toggle"}, "argument 3, 'toggle': not an action");
        row("channel 3", {"3", "on"}, "argument 1, '3': no such channel");
        row("channel 0 in a pulse", {"pulse", "0", "1s"}, "argument 2, '0': no such channel");
        row("no operation", {"1"}, "at the end: '1' needs on, off or reverse");
        row("unknown operation", {"2", "up"}, "argument 2, 'up': not on, off or reverse");
        row("all reverse", {"all", "reverse"}, "argument 2, 'reverse': all channels cannot");
        row("pulse without duration", {"pulse", "1"}, "at the end: 'pulse 1' needs a duration");
        row("pulse without channel", {"pulse"}, "at the end: 'pulse' needs a channel");
        row("negative wait", {"1", "on", "wait", "-5ms"}, "argument 4, '-5ms': not a duration");
        row("wait without unit", {"wait", "5"}, "argument 2, '5': not a duration");
        row("fraction of a millisecond", {"wait", "1.5ms"}, "argument 2, '1.5ms': not a duration");
        row("wait without duration", {"wait"}, "at the end: 'wait' needs a duration");
        row("send nothing", {"send", "ZZ"}, "argument 2, 'ZZ': converts to no byte at all");
        row("send spaces", {"send", "   "}, "argument 2, '   ': converts to no byte at all");
        row("send a part", {"send", "A0 0G A4"}, "argument 2, 'A0 0G A4': only the first 1 byte");
        row("send a lone digit", {"send", "A0 1"}, "argument 2, 'A0 1': only the first 1 byte");
        row("send without text", {"send"}, "at the end: 'send' needs the frame's text");
        row("negative repeat", {"--repeat", "-1", "1", "on"},
            "argument 2, '-1': --repeat takes a whole number");
        row("repeat in words", {"--repeat", "many", "1", "on"}, "argument 2, 'many': --repeat");
        row("repeat without value", {"1", "on", "--repeat"},
            "argument 3, '--repeat': --repeat "
            "needs a value");
        row("repeat twice", {"--repeat", "2", "--repeat", "3", "1", "on"},
            "argument 3, '--repeat': given twice");
        row("expect what", {"--expect", "ack", "1", "on"}, "argument 2, 'ack': --expect takes");
        row("zero timeout", {"--timeout", "0ms", "1", "on"}, "argument 2, '0ms': not a duration");
        row("timeout without unit", {"--timeout=300", "1", "on"}, "argument 1, '300': not a dur");
        row("port twice", {"-p", "COM1", "--port", "COM2", "1", "on"},
            "argument 3, '--port': given twice");
        row("empty port", {"--port=", "1", "on"}, "argument 1, '': not a port");
        row("unknown option", {"--loop", "1", "on"}, "argument 1, '--loop': unknown option");
        row("value on a flag", {"--quiet=yes", "1", "on"}, "argument 1, '--quiet=yes': takes no");
        row("at-exit mistake", {"--at-exit", "all sideways", "1", "on"},
            "argument 2, word 2, 'sideways': not on, off or reverse");
        row("at-exit cut short", {"--at-exit", "pulse 1", "1", "on"},
            "argument 2: 'pulse 1' needs a duration");
        row("at-exit empty", {"--at-exit", " ", "1", "on"}, "argument 2, ' ': --at-exit needs");
        row("log twice", {"--log", "a", "--log", "b", "1", "on"}, "argument 3, '--log': given");
        row("list with more", {"list", "--csv"}, "argument 2, '--csv': 'list' takes only --json");
    }
    void mistakes() {
        QFETCH(QStringList, words);
        QFETCH(QString, message);
        const auto parsed = relay::parseArguments(argumentsOf(words));
        QVERIFY(std::holds_alternative<app::Exit>(parsed));
        const app::Exit& exit = std::get<app::Exit>(parsed);
        QCOMPARE(exit.status, relay::kExitBadUsage);
        QVERIFY2(exit.text.startsWith(u"zeva-relay: " + message), qPrintable(exit.text));
        QVERIFY(exit.text.endsWith(QStringLiteral("Try 'zeva-relay --help'.\n")));
    }

    void durations_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("ms");  // -1: refused
        QTest::newRow("250ms") << "250ms" << qint64{250};
        QTest::newRow("2s") << "2s" << qint64{2000};
        QTest::newRow("1.5s") << "1.5s" << qint64{1500};
        QTest::newRow("0.25s") << "0.25s" << qint64{250};
        QTest::newRow("0.001s") << "0.001s" << qint64{1};
        QTest::newRow("0ms") << "0ms" << qint64{0};
        QTest::newRow("longest in ms") << "999999999ms" << qint64{999999999};
        QTest::newRow("longest in s") << "999999.999s" << qint64{999999999};
        QTest::newRow("too long") << "1000000000ms" << qint64{-1};
        QTest::newRow("too long in s") << "1000000s" << qint64{-1};
        QTest::newRow("finer than a ms") << "1.2345s" << qint64{-1};
        QTest::newRow("negative") << "-5ms" << qint64{-1};
        QTest::newRow("no unit") << "5" << qint64{-1};
        QTest::newRow("no number") << "ms" << qint64{-1};
        QTest::newRow("minutes") << "1m" << qint64{-1};
        QTest::newRow("space") << "5 ms" << qint64{-1};
        QTest::newRow("upper case") << "5MS" << qint64{-1};
        QTest::newRow("empty") << "" << qint64{-1};
    }
    void durations() {
        QFETCH(QString, text);
        QFETCH(qint64, ms);
        const std::optional<relay::Duration> duration = relay::parseDuration(text);
        QCOMPARE(duration ? duration->count() : -1, ms);
    }
};

QTEST_GUILESS_MAIN(TestRelayScript)
#include "tst_relay_script.moc"

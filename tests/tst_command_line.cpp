// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/stat.h>

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

#include "app/command_line.h"
#include "app/port_list.h"

namespace {

std::variant<app::Options, app::Exit> parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("/usr/bin/zeva-relay-test"));
    return app::parseCommandLine(arguments);
}

}  // namespace

Q_DECLARE_METATYPE(serial::PortReport)

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noArgumentsChangeNothing() {
        const auto parsed = parse({});
        const auto* options = std::get_if<app::Options>(&parsed);
        QVERIFY(options);
        QVERIFY(options->bindings.empty());
        QVERIFY(!options->simulate);
        QVERIFY(!options->listPorts);
        QVERIFY(!options->reconnect);
    }

    void bindings() {
        const auto parsed = parse({"--port", "COM2=/dev/ttyUSB0", "--port=com4=/dev/my port",
                                   "--simulate", "--reconnect"});
        const auto* options = std::get_if<app::Options>(&parsed);
        QVERIFY(options);
        QVERIFY(options->simulate);
        QVERIFY(options->reconnect);
        const serial::PortNumbering::Bindings expected{{2, "/dev/ttyUSB0"}, {4, "/dev/my port"}};
        QCOMPARE(options->bindings, expected);
    }

    // A name without '/' is a device under /dev, as Qt names ports; any other path is read from
    // the current directory.
    void paths_data() {
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("path");
        const QString here = QDir::currentPath();
        QTest::newRow("device name") << "ttyUSB0"
                                     << "/dev/ttyUSB0";
        QTest::newRow("absolute") << "/dev/serial/by-id/usb-adapter-if00"
                                  << "/dev/serial/by-id/usb-adapter-if00";
        QTest::newRow("relative with a folder") << "pts/3" << here + "/pts/3";
        QTest::newRow("relative to here") << "./line" << here + "/./line";
        QTest::newRow("relative to the parent") << "../line" << here + "/../line";
    }

    void paths() {
        QFETCH(QString, given);
        QFETCH(QString, path);
        const auto parsed = parse({"--port", "COM3=" + given});
        const auto* options = std::get_if<app::Options>(&parsed);
        QVERIFY(options);
        QCOMPARE(options->bindings.at(3), path);
    }

    // Qt's own options are stepped over, whatever their form, and change nothing of ours.
    void qtOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("platform") << QStringList{"-platform", "offscreen"};
        QTest::newRow("style") << QStringList{"-style", "Fusion"};
        QTest::newRow("style joined") << QStringList{"-style=Fusion"};
        QTest::newRow("two dashes") << QStringList{"--style", "Fusion", "--platform", "xcb"};
        QTest::newRow("reverse") << QStringList{"-reverse"};
        QTest::newRow("all three")
            << QStringList{"-platform", "offscreen", "-style", "Fusion", "-reverse"};
        QTest::newRow("value like an option") << QStringList{"-qwindowtitle", "--simulate"};
        QTest::newRow("x11") << QStringList{"-display", ":1", "-geometry", "640x480", "-sync"};
    }

    void qtOptions() {
        QFETCH(QStringList, arguments);
        const auto parsed = parse(arguments + QStringList{"--port", "COM2=/dev/ttyS1"});
        const auto* options = std::get_if<app::Options>(&parsed);
        const auto* exit = std::get_if<app::Exit>(&parsed);
        QVERIFY2(options, qPrintable(exit ? exit->text : QString()));
        QVERIFY(!options->simulate);
        const serial::PortNumbering::Bindings expected{{2, "/dev/ttyS1"}};
        QCOMPARE(options->bindings, expected);

        const auto help = parse(arguments + QStringList{"--help"});
        QVERIFY(std::holds_alternative<app::Exit>(help));
        QCOMPARE(std::get<app::Exit>(help).status, 0);
    }

    void listPorts() {
        const auto parsed = parse({"--list-ports", "--port", "COM4=ttyACM0"});
        const auto* options = std::get_if<app::Options>(&parsed);
        QVERIFY(options);
        QVERIFY(options->listPorts);
        QCOMPARE(options->bindings.at(4), QStringLiteral("/dev/ttyACM0"));
    }

    void log() {
        for (const QString& file : {QStringLiteral("/tmp/relay.log"), QStringLiteral("-")}) {
            const auto parsed = parse({"--log", file});
            const auto* options = std::get_if<app::Options>(&parsed);
            QVERIFY(options);
            QCOMPARE(options->log, std::optional<QString>(file));
        }
        const auto parsed = parse({});
        QVERIFY(!std::get<app::Options>(parsed).log);
    }

    void exits_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("says");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: zeva-relay-test [options]";
        QTest::newRow("short help") << QStringList{"-h"} << 0 << "--port <COMn=PATH>";
        QTest::newRow("help on paths") << QStringList{"--help"} << 0 << "device under /dev";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "zeva-relay-test 1.0.0\n";
        QTest::newRow("version's copyright")
            << QStringList{"-v"} << 0
            << "\nCopyright (C) 2026 The ZEVA relay test developers\n"
               "License GPL-3.0-or-later: GNU GPL version 3 or later";
        QTest::newRow("unknown option") << QStringList{"--fast"} << 2 << "Unknown option 'fast'";
        QTest::newRow("missing value") << QStringList{"--port"} << 2 << "Missing value after";
        QTest::newRow("qt option without its value")
            << QStringList{"-platform"} << 2 << "Missing value after '-platform'";
        QTest::newRow("no equals") << QStringList{"--port", "COM1"} << 2 << "malformed binding";
        QTest::newRow("no path") << QStringList{"--port", "COM1="} << 2 << "malformed binding";
        QTest::newRow("not COM") << QStringList{"--port", "ttyS0=/dev/ttyS0"} << 2
                                 << "malformed binding";
        QTest::newRow("simulate and list")
            << QStringList{"--simulate", "--list-ports"} << 2 << "--list-ports";
        QTest::newRow("twice") << QStringList{"--port", "COM1=/a", "--port", "COM1=/b"} << 2
                               << "COM1 is bound twice";
        QTest::newRow("simulated COM1 rebound")
            << QStringList{"--simulate", "--port", "COM1=/a"} << 2 << "COM1 is bound twice";
        QTest::newRow("log without a file") << QStringList{"--log"} << 2 << "Missing value after";
        QTest::newRow("log with an empty name")
            << QStringList{"--log", ""} << 2 << "--log needs a file name";
        QTest::newRow("log twice")
            << QStringList{"--log", "a", "--log", "b"} << 2 << "--log is given twice";
        // A control character anywhere in a binding, a final newline included.
        const struct {
            const char* name;
            const char* value;
            const char* code;
        } controls[] = {{"final newline", "COM1=/dev/null\n", "000A"},
                        {"newline inside", "COM1=/dev/tty\nUSB0", "000A"},
                        {"tab", "COM1=/dev/null\t", "0009"},
                        {"escape", "COM1=/dev/\x1bttyS0", "001B"},
                        {"newline in the number", "COM1\n=/dev/null", "000A"}};
        for (const auto& control : controls) {
            QTest::addRow("control character: %s", control.name)
                << QStringList{"--port", QString::fromLatin1(control.value)} << 2
                << QStringLiteral("holds a control character (U+%1)")
                       .arg(QLatin1String(control.code));
        }
        QTest::newRow("stray argument") << QStringList{"COM1"} << 2 << "unexpected argument";
        // Every number outside the list gets the same answer, however it is written; none may
        // wrap around into the list.
        for (const char* number : {"5", "0", "-1", "01", "", "99999999999", "4294967297",
                                   "4294967296", "2147483649", "65537", "1e0", "+1", " 1", "Ⅰ"}) {
            QTest::addRow("COM%s", number)
                << QStringList{"--port", QStringLiteral("COM%1=/dev/null").arg(number)} << 2
                << QStringLiteral("COM%1 is not in the port list, which holds COM1 to COM4.")
                       .arg(number);
        }
    }

    void exits() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, says);
        const auto parsed = parse(arguments);
        const auto* exit = std::get_if<app::Exit>(&parsed);
        QVERIFY(exit);
        QCOMPARE(exit->status, status);
        QVERIFY2(exit->text.contains(says), qPrintable(exit->text));
    }

    // One line per COM number: what the system knows of the device, then who holds it and
    // whether this user may open it.
    void portLines_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<serial::PortReport>("report");
        QTest::addColumn<QString>("line");
        serial::PortReport adapter;
        adapter.path = "/dev/ttyUSB0";
        adapter.node = "/dev/ttyUSB0";
        adapter.description = "USB serial";
        adapter.manufacturer = "Maker";
        adapter.serialNumber = "A1";
        adapter.byIdName = "/dev/serial/by-id/usb-Maker_USB_serial_A1-if00-port0";
        QTest::newRow("adapter") << 1 << adapter
                                 << "COM1  /dev/ttyUSB0  USB serial, made by Maker, serial number "
                                    "A1  /dev/serial/by-id/usb-Maker_USB_serial_A1-if00-port0  "
                                    "free  you may open it";
        QTest::newRow("adapter at COM4, the last of the list")
            << 4 << adapter
            << "COM4  /dev/ttyUSB0  USB serial, made by Maker, serial number "
               "A1  /dev/serial/by-id/usb-Maker_USB_serial_A1-if00-port0  free  you may open it";
        serial::PortReport beyond = adapter;
        beyond.description.clear();
        beyond.manufacturer.clear();
        beyond.serialNumber.clear();
        QTest::newRow("past COM4")
            << 5 << beyond
            << "COM5  /dev/ttyUSB0  /dev/serial/by-id/usb-Maker_USB_serial_A1-if00-port0  free  "
               "you may open it  not in the port list: bind it with --port "
               "COMn=/dev/serial/by-id/usb-Maker_USB_serial_A1-if00-port0";
        serial::PortReport link;
        link.path = "/home/me/board";
        link.node = "/dev/ttyACM0";
        link.holder = serial::PortReport::Holder::Lock;
        link.pid = 4242;
        link.holderName = "minicom";
        link.lockFile = "/var/lock/LCK..ttyACM0";
        link.mayOpen = false;
        link.group = "dialout";
        QTest::newRow("link, locked, forbidden")
            << 2 << link
            << "COM2  /home/me/board -> /dev/ttyACM0  busy: locked by process 4242 (minicom) in "
               "/var/lock/LCK..ttyACM0  no permission: join group dialout (sudo usermod -aG "
               "dialout \"$USER\", then log in again)";
        serial::PortReport fifo = adapter;
        fifo.description.clear();
        fifo.manufacturer.clear();
        fifo.serialNumber.clear();
        fifo.byIdName.clear();
        fifo.holder = serial::PortReport::Holder::NotAFile;
        fifo.lockFile = "/var/lock/LCK..ttyUSB0";
        fifo.lockType = S_IFIFO;
        QTest::newRow("a FIFO at the lock path")
            << 3 << fifo
            << "COM3  /dev/ttyUSB0  busy: /var/lock/LCK..ttyUSB0 is a FIFO, not a lock file; "
               "remove it if no program uses the port  you may open it";
        serial::PortReport missing;
        missing.path = "/dev/ttyUSB7";
        QTest::newRow("missing") << 3 << missing << "COM3  /dev/ttyUSB7  no such device";
        QTest::newRow("none") << 4 << serial::PortReport{} << "COM4  no device";
    }

    void portLines() {
        QFETCH(int, number);
        QFETCH(serial::PortReport, report);
        QFETCH(QString, line);
        QCOMPARE(app::portLine(number, report), line);
    }

    // Every port of the machine is listed, past COM4 too: one line each, in COM order.
    void portListHasEveryMachinePort() {
        const QStringList machine{"/dev/ttyS3", "/dev/ttyS0", "/dev/ttyS4", "/dev/ttyS1",
                                  "/dev/ttyS2"};
        const QString list =
            app::portList(serial::PortNumbering(), machine, [](const QString& path) {
                serial::PortReport report;
                report.node = path;
                return report;
            });
        const QStringList lines = list.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 5);
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(
                lines[i].startsWith(QStringLiteral("COM%1  /dev/ttyS%2  free").arg(i + 1).arg(i)),
                qPrintable(list));
        }
        QVERIFY2(lines[4].startsWith(u"COM5  /dev/ttyS4  free"), qPrintable(list));
        QVERIFY2(lines[4].contains(u"not in the port list"), qPrintable(list));
    }

    // Random argument lists from the words the parser knows and some it does not: it exits 0
    // only for help or version, 2 otherwise, or runs with bindings it was given and no others.
    void randomArguments() {
        const quint32 seed = qEnvironmentVariableIsSet("ZEVA_CAMPAIGN_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("ZEVA_CAMPAIGN_SEED"))
                                 : 10u;
        QRandomGenerator random(seed);
        const QStringList words{
            "--port",        "--simulate", "--list-ports", "--reconnect", "--help", "-h",
            "--version",     "-v",         "-platform",    "offscreen",   "-style", "Fusion",
            "-style=Fusion", "-reverse",   "--",           "-",           "",       "=",
            "COM",           "--port=",    "-p",           "--bogus",     "ttyS0",  "/dev/ttyS0",
            "-qwindowtitle"};
        const auto randomBinding = [&random] {
            static const QStringList numbers{"1",          "2",     "3",  "4", "5",
                                             "0",          "-1",    "01", "",  "99999999999",
                                             "4294967297", "65537", "x"};
            static const QStringList paths{"/dev/null", "ttyUSB0", "a/b", "", "=", "/"};
            return QStringLiteral("%1%2=%3").arg(random.bounded(2) == 0 ? "COM" : "com",
                                                 numbers[random.bounded(int(numbers.size()))],
                                                 paths[random.bounded(int(paths.size()))]);
        };
        for (int run = 0; run < 5000; ++run) {
            QStringList arguments;
            const int count = random.bounded(8);
            for (int i = 0; i < count; ++i) {
                arguments.append(random.bounded(3) == 0 ? randomBinding()
                                                        : words[random.bounded(int(words.size()))]);
            }
            const QString context =
                QStringLiteral("seed %1, run %2: %3").arg(seed).arg(run).arg(arguments.join(u' '));
            const auto parsed = parse(arguments);
            if (const auto* exit = std::get_if<app::Exit>(&parsed)) {
                QVERIFY2(exit->status == 2 || exit->status == 0, qPrintable(context));
                const bool asked = arguments.contains("--help") || arguments.contains("-h") ||
                                   arguments.contains("--version") || arguments.contains("-v");
                QVERIFY2(exit->status == 2 || asked, qPrintable(context));
                continue;
            }
            const auto& options = std::get<app::Options>(parsed);
            for (const auto& [number, path] : options.bindings) {
                QVERIFY2(number >= 1 && number <= 4, qPrintable(context));
                const bool given = std::any_of(
                    arguments.begin(), arguments.end(), [&, number = number](const QString& a) {
                        return a.compare(QStringLiteral("COM%1=").arg(number) + a.section(u'=', 1),
                                         Qt::CaseInsensitive) == 0 &&
                               !a.section(u'=', 1).isEmpty();
                    });
                QVERIFY2(given, qPrintable(context + u" bound COM" + QString::number(number) +
                                           u" to " + path));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"

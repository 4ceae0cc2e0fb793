#include <QTest>

#include "app/command_line.h"

class TestCommandLine : public QObject {
    Q_OBJECT

    static std::variant<app::Options, app::Exit> parse(QStringList arguments) {
        arguments.prepend(QStringLiteral("/usr/bin/zeva-relay-test"));
        return app::parseCommandLine(arguments);
    }

private Q_SLOTS:
    void noArgumentsChangeNothing() {
        const auto parsed = parse({});
        const auto* options = std::get_if<app::Options>(&parsed);
        QVERIFY(options);
        QVERIFY(options->bindings.empty());
        QVERIFY(!options->simulate);
    }

    void bindings() {
        const auto parsed =
            parse({"--port", "COM2=/dev/ttyUSB0", "--port=com4=/dev/my port", "--simulate"});
        const auto* options = std::get_if<app::Options>(&parsed);
        QVERIFY(options);
        QVERIFY(options->simulate);
        const serial::PortNumbering::Bindings expected{{2, "/dev/ttyUSB0"}, {4, "/dev/my port"}};
        QCOMPARE(options->bindings, expected);
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
        QTest::newRow("version") << QStringList{"--version"} << 0 << "zeva-relay-test 1.0.0\n";
        QTest::newRow("unknown option") << QStringList{"--fast"} << 2 << "Unknown option 'fast'";
        QTest::newRow("missing value") << QStringList{"--port"} << 2 << "Missing value after";
        QTest::newRow("no equals") << QStringList{"--port", "COM1"} << 2 << "malformed binding";
        QTest::newRow("no path") << QStringList{"--port", "COM1="} << 2 << "malformed binding";
        QTest::newRow("not COM") << QStringList{"--port", "ttyS0=/dev/ttyS0"} << 2
                                 << "malformed binding";
        QTest::newRow("COM0") << QStringList{"--port", "COM0=/dev/ttyS0"} << 2
                              << "malformed binding";
        QTest::newRow("COM5") << QStringList{"--port", "COM5=/dev/ttyS0"} << 2
                              << "COM5 is not in the port list";
        QTest::newRow("twice") << QStringList{"--port", "COM1=/a", "--port", "COM1=/b"} << 2
                               << "COM1 is bound twice";
        QTest::newRow("simulated COM1 rebound")
            << QStringList{"--simulate", "--port", "COM1=/a"} << 2 << "COM1 is bound twice";
        QTest::newRow("log without a file") << QStringList{"--log"} << 2 << "Missing value after";
        QTest::newRow("log with an empty name")
            << QStringList{"--log", ""} << 2 << "--log needs a file name";
        QTest::newRow("log twice")
            << QStringList{"--log", "a", "--log", "b"} << 2 << "--log is given twice";
        QTest::newRow("stray argument") << QStringList{"COM1"} << 2 << "unexpected argument";
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
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"

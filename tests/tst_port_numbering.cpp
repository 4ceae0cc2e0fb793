// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>

#include "serial/port_numbering.h"

using serial::PortNumbering;

Q_DECLARE_METATYPE(PortNumbering::Bindings)

class TestPortNumbering : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void comOrder_data() {
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("empty") << QStringList{} << QStringList{};
        QTest::newRow("groups in order, whatever order udev gives")
            << QStringList{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyS0"}
            << QStringList{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyACM0"};
        QTest::newRow("numbers compared as numbers")
            << QStringList{"/dev/ttyS10", "/dev/ttyS2", "/dev/ttyS1"}
            << QStringList{"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10"};
        QTest::newRow("within every group")
            << QStringList{"/dev/ttyUSB10", "/dev/ttyACM11", "/dev/ttyUSB9", "/dev/ttyACM3"}
            << QStringList{"/dev/ttyUSB9", "/dev/ttyUSB10", "/dev/ttyACM3", "/dev/ttyACM11"};
        QTest::newRow("other ports last, by name then number")
            << QStringList{"/dev/ttyAMA10", "/dev/rfcomm0", "/dev/ttyACM0", "/dev/ttyAMA2"}
            << QStringList{"/dev/ttyACM0", "/dev/rfcomm0", "/dev/ttyAMA2", "/dev/ttyAMA10"};
        QTest::newRow("a longer name is not an on-board UART")
            << QStringList{"/dev/ttySAC0", "/dev/ttyS3", "/dev/ttyUSBX0"}
            << QStringList{"/dev/ttyS3", "/dev/ttySAC0", "/dev/ttyUSBX0"};
        QTest::newRow("each path once") << QStringList{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyS0"}
                                        << QStringList{"/dev/ttyS0", "/dev/ttyUSB0"};
        QTest::newRow("a name without a number before the numbered ones")
            << QStringList{"/dev/ttyX1", "/dev/ttyX"} << QStringList{"/dev/ttyX", "/dev/ttyX1"};
    }

    void comOrder() {
        QFETCH(QStringList, ports);
        QFETCH(QStringList, expected);
        QCOMPARE(PortNumbering::comOrder(ports), expected);
    }

    void resolve_data() {
        QTest::addColumn<PortNumbering::Bindings>("bindings");
        QTest::addColumn<QStringList>("ports");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("expected");

        const QStringList machine{"/dev/ttyUSB0", "/dev/ttyS1", "/dev/ttyACM0", "/dev/ttyS0"};
        const PortNumbering::Bindings none;
        const PortNumbering::Bindings com2{{2, "/dev/pts/7"}};

        QTest::newRow("COM1 is the first") << none << machine << 1 << "/dev/ttyS0";
        QTest::newRow("COM3 is the first adapter") << none << machine << 3 << "/dev/ttyUSB0";
        QTest::newRow("COM4 is the last port") << none << machine << 4 << "/dev/ttyACM0";
        QTest::newRow("fewer ports than the number") << none << machine << 5 << "";
        QTest::newRow("no ports at all") << none << QStringList{} << 1 << "";
        QTest::newRow("no selection") << none << machine << 0 << "";
        QTest::newRow("negative") << none << machine << -1 << "";
        QTest::newRow("binding wins") << com2 << machine << 2 << "/dev/pts/7";
        QTest::newRow("other numbers keep their ports") << com2 << machine << 3 << "/dev/ttyUSB0";
        QTest::newRow("binding beyond the machine's ports")
            << PortNumbering::Bindings{{4, "/dev/pts/9"}} << QStringList{"/dev/ttyS0"} << 4
            << "/dev/pts/9";
        QTest::newRow("binding on a machine without ports")
            << com2 << QStringList{} << 2 << "/dev/pts/7";
    }

    void resolve() {
        QFETCH(PortNumbering::Bindings, bindings);
        QFETCH(QStringList, ports);
        QFETCH(int, port);
        QFETCH(QString, expected);
        const PortNumbering numbering(bindings);
        QCOMPARE(numbering.resolve(static_cast<std::int16_t>(port), ports), expected);
    }

    void resolveListsPortsOnlyWithoutBinding_data() { resolve_data(); }

    void resolveListsPortsOnlyWithoutBinding() {
        QFETCH(PortNumbering::Bindings, bindings);
        QFETCH(QStringList, ports);
        QFETCH(int, port);
        QFETCH(QString, expected);
        const PortNumbering numbering(bindings);
        int listings = 0;
        const auto listPorts = [&] {
            ++listings;
            return ports;
        };
        QCOMPARE(numbering.resolve(static_cast<std::int16_t>(port), listPorts), expected);
        const bool bound = bindings.contains(static_cast<std::int16_t>(port));
        QCOMPARE(listings, bound || port < 1 ? 0 : 1);
    }
};

QTEST_GUILESS_MAIN(TestPortNumbering)
#include "tst_port_numbering.moc"

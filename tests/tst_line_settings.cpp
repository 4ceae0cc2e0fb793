// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>

#include "serial/line_settings.h"

using serial::LineSettings;
using serial::parseLineSettings;

class TestLineSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void validTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baudRate");
        QTest::addColumn<int>("parity");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");

        QTest::newRow("the window's") << "9600,N,8,1" << 9600 << int(QSerialPort::NoParity)
                                      << int(QSerialPort::Data8) << int(QSerialPort::OneStop);
        QTest::newRow("even, 7, 2") << "115200,E,7,2" << 115200 << int(QSerialPort::EvenParity)
                                    << int(QSerialPort::Data7) << int(QSerialPort::TwoStop);
        QTest::newRow("odd, 5, 1.5") << "300,O,5,1.5" << 300 << int(QSerialPort::OddParity)
                                     << int(QSerialPort::Data5) << int(QSerialPort::OneAndHalfStop);
        QTest::newRow("mark, 6") << "1200,M,6,1" << 1200 << int(QSerialPort::MarkParity)
                                 << int(QSerialPort::Data6) << int(QSerialPort::OneStop);
        QTest::newRow("space, 5, 1") << "110,S,5,1" << 110 << int(QSerialPort::SpaceParity)
                                     << int(QSerialPort::Data5) << int(QSerialPort::OneStop);
        QTest::newRow("lower-case parity") << "19200,e,8,2" << 19200 << int(QSerialPort::EvenParity)
                                           << int(QSerialPort::Data8) << int(QSerialPort::TwoStop);
        QTest::newRow("non-standard speed")
            << "250000,N,8,1" << 250000 << int(QSerialPort::NoParity) << int(QSerialPort::Data8)
            << int(QSerialPort::OneStop);
        QTest::newRow("largest speed")
            << "2147483647,N,8,1" << 2147483647 << int(QSerialPort::NoParity)
            << int(QSerialPort::Data8) << int(QSerialPort::OneStop);
    }

    void validTexts() {
        QFETCH(QString, text);
        QFETCH(int, baudRate);
        QFETCH(int, parity);
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        const std::optional<LineSettings> settings = parseLineSettings(text);
        QVERIFY(settings.has_value());
        QCOMPARE(settings->baudRate, baudRate);
        QCOMPARE(settings->parity, static_cast<QSerialPort::Parity>(parity));
        QCOMPARE(settings->dataBits, static_cast<QSerialPort::DataBits>(dataBits));
        QCOMPARE(settings->stopBits, static_cast<QSerialPort::StopBits>(stopBits));
    }

    void invalidTexts_data() {
        QTest::addColumn<QString>("text");

        QTest::newRow("empty") << "";
        QTest::newRow("speed only") << "9600";
        QTest::newRow("three fields") << "9600,N,8";
        QTest::newRow("five fields") << "9600,N,8,1,1";
        QTest::newRow("trailing comma") << "9600,N,8,1,";
        QTest::newRow("empty field") << "9600,,8,1";
        QTest::newRow("zero speed") << "0,N,8,1";
        QTest::newRow("signed speed") << "+9600,N,8,1";
        QTest::newRow("negative speed") << "-9600,N,8,1";
        QTest::newRow("speed too large") << "2147483648,N,8,1";
        QTest::newRow("speed with a fraction") << "9600.5,N,8,1";
        QTest::newRow("letters in the speed") << "96OO,N,8,1";
        QTest::newRow("unknown parity") << "9600,X,8,1";
        QTest::newRow("parity as a word") << "9600,None,8,1";
        QTest::newRow("four data bits") << "9600,N,4,1";
        QTest::newRow("nine data bits") << "9600,N,9,1";
        QTest::newRow("three stop bits") << "9600,N,8,3";
        QTest::newRow("zero stop bits") << "9600,N,8,0";
        QTest::newRow("1.5 stop bits with 8 data bits") << "9600,N,8,1.5";
        QTest::newRow("2 stop bits with 5 data bits") << "9600,N,5,2";
        QTest::newRow("spaces") << "9600, N, 8, 1";
        QTest::newRow("semicolons") << "9600;N;8;1";
        QTest::newRow("full-width digits") << "９６００,N,8,1";
    }

    void invalidTexts() {
        QFETCH(QString, text);
        QVERIFY(!parseLineSettings(text).has_value());
    }
};

QTEST_GUILESS_MAIN(TestLineSettings)
#include "tst_line_settings.moc"

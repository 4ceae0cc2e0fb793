// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The device's Settings text, "baud,parity,data,stop" ("9600,N,8,1"), read into the values Qt's
// serial port takes. Nothing is guessed: a text that does not say exactly one valid value for
// each of the four fields is not a setting.
//
//   baud     decimal digits, 1 to 2147483647 (whether the line can run at it is the driver's say)
//   parity   N none, E even, O odd, M mark, S space; lower case is read too
//   data     5, 6, 7 or 8
//   stop     1, 1.5 or 2; 1.5 only with 5 data bits and 2 only with 6 to 8, the combinations a
//            UART can send (Windows refuses the others as well)

#include <QSerialPort>
#include <QStringView>
#include <optional>

namespace serial {

struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// The settings `text` says, or nothing when it is not a valid settings text.
std::optional<LineSettings> parseLineSettings(QStringView text);

}  // namespace serial

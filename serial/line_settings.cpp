// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/line_settings.h"

#include <limits>

namespace serial {

namespace {

std::optional<qint32> parseBaudRate(QStringView field) {
    if (field.isEmpty() || field.size() > 10) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (const QChar c : field) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value < 1 || value > std::numeric_limits<qint32>::max()) {
        return std::nullopt;
    }
    return static_cast<qint32>(value);
}

std::optional<QSerialPort::Parity> parseParity(QStringView field) {
    if (field.size() != 1) {
        return std::nullopt;
    }
    switch (field.front().toUpper().unicode()) {
        case u'N':
            return QSerialPort::NoParity;
        case u'E':
            return QSerialPort::EvenParity;
        case u'O':
            return QSerialPort::OddParity;
        case u'M':
            return QSerialPort::MarkParity;
        case u'S':
            return QSerialPort::SpaceParity;
        default:
            return std::nullopt;
    }
}

std::optional<QSerialPort::DataBits> parseDataBits(QStringView field) {
    if (field == u"5") {
        return QSerialPort::Data5;
    }
    if (field == u"6") {
        return QSerialPort::Data6;
    }
    if (field == u"7") {
        return QSerialPort::Data7;
    }
    if (field == u"8") {
        return QSerialPort::Data8;
    }
    return std::nullopt;
}

std::optional<QSerialPort::StopBits> parseStopBits(QStringView field) {
    if (field == u"1") {
        return QSerialPort::OneStop;
    }
    if (field == u"1.5") {
        return QSerialPort::OneAndHalfStop;
    }
    if (field == u"2") {
        return QSerialPort::TwoStop;
    }
    return std::nullopt;
}

}  // namespace

std::optional<LineSettings> parseLineSettings(QStringView text) {
    const QList<QStringView> fields = text.split(u',');
    if (fields.size() != 4) {
        return std::nullopt;
    }
    const auto baudRate = parseBaudRate(fields[0]);
    const auto parity = parseParity(fields[1]);
    const auto dataBits = parseDataBits(fields[2]);
    const auto stopBits = parseStopBits(fields[3]);
    if (!baudRate || !parity || !dataBits || !stopBits) {
        return std::nullopt;
    }
    const bool fiveBits = *dataBits == QSerialPort::Data5;
    if ((*stopBits == QSerialPort::OneAndHalfStop && !fiveBits) ||
        (*stopBits == QSerialPort::TwoStop && fiveBits)) {
        return std::nullopt;
    }
    return LineSettings{*baudRate, *parity, *dataBits, *stopBits};
}

}  // namespace serial

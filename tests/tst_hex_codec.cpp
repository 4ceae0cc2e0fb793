// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTest>
#include <cstdint>
#include <vector>

#include "codec/hex_codec.h"

namespace {

std::u16string_view view(const QString& text) {
    return {QStringView(text).utf16(), static_cast<std::size_t>(text.size())};
}

QByteArray bytes(const std::vector<std::uint8_t>& v) {
    return {reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size())};
}

}  // namespace

class TestHexCodec : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void convertHexChr_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        const struct {
            const char16_t* text;
            int value;
        } cases[] = {
            {u"0", 0},       {u"9", 9},       {u"a", 10},      {u"f", 15},  {u"A", 10},
            {u"F", 15},      {u"g", -1},      {u"G", -1},      {u"/", -1},  {u":", -1},
            {u" ", -1},      {u"@", -1},      {u"`", -1},      {u"A0", 10}, {u"x9", -1},
            {u"", -1},       {u"\uFF10", -1}, {u"\uFF21", -1}, {u"\t", -1}, {u"\u00A0", -1},
            {u"\xD800", -1},
        };
        for (const auto& c : cases) {
            const QString text = QString::fromUtf16(c.text);
            QTest::addRow("\"%s\"", qPrintable(text.toUtf8().toHex())) << text << c.value;
        }
    }

    void convertHexChr() {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(int{codec::ConvertHexChr(view(text))}, value);
    }

    void strHexToByteArray_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");

        const auto row = [](const char* name, const QString& text, const char* hex) {
            QTest::newRow(name) << text << QByteArray::fromHex(hex);
        };
        row("canonical", "A0 01 03 A4", "A00103A4");
        row("all on", "24 01 04 01 02 02 2E", "2401040102022E");
        row("lone last digit dropped", "a0 1", "A0");
        row("empty", "", "");
        row("not hex", "ZZ", "");
        row("spaces only", "   ", "");
        row("two spaces", "A0  01", "A001");
        row("bad pair ends reading", "A0 0G", "A0");
        row("no separator", "A001", "A001");
        row("space inside a pair", "A 0", "A0");
        row("leading space", " A0", "A0");
        row("trailing space", "A0 01 03 A4 ", "A00103A4");
        row("trailing lone digit", "A0 01 03 A4 5", "A00103A4");
        row("bad pair in the middle", "A0 01 0G A4", "A001");
        row("mixed case aF", "aF", "AF");
        row("mixed case Af", "Af", "AF");
        row("zero", "00", "00");
        row("all ones", "FF", "FF");
        row("tab between pairs", "A0\t01", "A0");
        row("tab inside a pair", "A\t0", "");
        row("CR LF between pairs", "A0\r\n01", "A0");
        row("no-break space", QStringLiteral("A0\u00A001"), "A0");
        row("ideographic space", QStringLiteral("A0\u300001"), "A0");
        row("full-width digits", QStringLiteral("\uFF21\uFF10"), "");
        row("lone high surrogate", QString(QChar(0xD800)), "");
        row("lone low surrogate after a pair", QStringLiteral("A0") + QChar(0xDC00), "A0");
        row("surrogate pair after a pair", QStringLiteral("A0\U0001F600"), "A0");
        row("pair split by many spaces", u'A' + QString(1000, u' ') + u'0', "A0");
        row("spaces before a lone digit", QStringLiteral("A0") + QString(50, u' ') + u'1', "A0");
        row("minus sign", "-1", "");
        row("0x prefix", "0xA0", "");
    }

    void strHexToByteArray() {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        std::vector<std::uint8_t> out{1, 2, 3, 4, 5, 6, 7, 8, 9};
        const std::int16_t count = codec::strHexToByteArray(view(text), out);
        QCOMPARE(int{count}, static_cast<int>(expected.size()));
        // Exactly the bytes, or one 0x00 byte when nothing was read; old contents never remain.
        QCOMPARE(bytes(out), expected.isEmpty() ? QByteArray(1, '\0') : expected);
    }

    // The reading behind the tooltips gives exactly the bytes of the conversion, on the same
    // table.
    void readingMatchesConversion_data() { strHexToByteArray_data(); }

    void readingMatchesConversion() {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        const codec::CommandReading reading = codec::readCommandText(view(text));
        QCOMPARE(bytes(reading.bytes), expected);
    }

    // Where reading ends and why: the characters that ended it and how much of the text was
    // read before them.
    void readEnd_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("end");
        QTest::addColumn<QString>("stopChars");
        QTest::addColumn<int>("consumed");
        const auto row = [](const char* name, const QString& text, codec::ReadEnd end,
                            const QString& stop, int consumed) {
            QTest::newRow(name) << text << int(end) << stop << consumed;
        };
        using codec::ReadEnd;
        row("canonical", "A0 01 03 A4", ReadEnd::Complete, "", 11);
        row("trailing spaces", "A0 01  ", ReadEnd::Complete, "", 5);
        row("empty", "", ReadEnd::Complete, "", 0);
        row("spaces only", "   ", ReadEnd::Complete, "", 0);
        row("bad second digit", "A0 01 0G A4", ReadEnd::NotHex, "0G", 5);
        row("bad first digit", "G0", ReadEnd::NotHex, "G0", 0);
        row("pair split by spaces", "A0 Z  9", ReadEnd::NotHex, "Z9", 2);
        row("tab inside", "A0	01", ReadEnd::NotHex, "	0", 2);
        row("emoji", QStringLiteral("A0😀"), ReadEnd::NotHex, QStringLiteral("😀"), 2);
        row("lone last digit", "A0 01 03 A4 5", ReadEnd::LoneCharacter, "5", 11);
        row("lone last character", "A0 G", ReadEnd::LoneCharacter, "G", 2);
        row("lone digit only", "  7 ", ReadEnd::LoneCharacter, "7", 0);
        row("too long", QString(32768, u'0'), ReadEnd::TooLong, "", 0);
        row("longest", QString(32767, u'0'), ReadEnd::LoneCharacter, "0", 32766);
    }

    void readEnd() {
        QFETCH(QString, text);
        QFETCH(int, end);
        QFETCH(QString, stopChars);
        QFETCH(int, consumed);
        const codec::CommandReading reading = codec::readCommandText(view(text));
        QCOMPARE(int(reading.end), end);
        QCOMPARE(QString::fromStdU16String(reading.stopChars), stopChars);
        QCOMPARE(reading.consumed, static_cast<std::size_t>(consumed));
    }

    // The longest text the 16-bit length can hold is read whole; one character more and the
    // text is refused as a whole.
    void lengthLimit_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("count");
        QTest::newRow("32766") << 32766 << 16383;
        QTest::newRow("32767, last digit dropped") << 32767 << 16383;
        QTest::newRow("32768 refused") << 32768 << 0;
        QTest::newRow("1,000,000 refused") << 1'000'000 << 0;
    }

    void lengthLimit() {
        QFETCH(int, length);
        QFETCH(int, count);
        QString text;
        text.reserve(length);
        while (text.size() < length) {
            text += QStringLiteral("5A");
        }
        text.truncate(length);
        std::vector<std::uint8_t> out;
        QCOMPARE(int{codec::strHexToByteArray(view(text), out)}, count);
        if (count == 0) {
            QCOMPARE(out, std::vector<std::uint8_t>{0x00});
        } else {
            QCOMPARE(out.size(), static_cast<std::size_t>(count));
            QCOMPARE(out.back(), std::uint8_t{0x5A});
        }
    }

    void emptyView() {
        std::vector<std::uint8_t> out{7};
        QCOMPARE(int{codec::strHexToByteArray(std::u16string_view(), out)}, 0);
        QCOMPARE(out, std::vector<std::uint8_t>{0x00});
        QCOMPARE(int{codec::ConvertHexChr(std::u16string_view())}, -1);
    }

    // Every byte value survives the way to its shown text and back through the codec.
    void byteTextRoundTrip() {
        std::vector<std::uint8_t> all(256);
        for (int value = 0; value < 256; ++value) {
            all[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(value);
        }
        const std::u16string text = codec::canonicalCommandText(all);
        QCOMPARE(text.size(), std::size_t{256 * 3 - 1});
        std::vector<std::uint8_t> decoded;
        QCOMPARE(int{codec::strHexToByteArray(text, decoded)}, 256);
        QCOMPARE(decoded, all);
        QCOMPARE(text.substr(0, 15), u"00 01 02 03 04 ");
        QCOMPARE(text.substr(text.size() - 5), u"FE FF");
    }
};

QTEST_GUILESS_MAIN(TestHexCodec)
#include "tst_hex_codec.moc"

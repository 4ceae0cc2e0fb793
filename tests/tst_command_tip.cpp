// SPDX-License-Identifier: GPL-3.0-or-later
// The command boxes' tooltips: what each kind of text says it will send.

#include <QTest>

#include "codec/relay_frames.h"
#include "logic/command_tip.h"
#include "logic/qt_text.h"

class TestCommandTip : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tip_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("tip");
        const auto row = [](const char* name, const QString& text, const QString& tip) {
            QTest::newRow(name) << text << tip;
        };
        // The window's own frames.
        row("channel 1 on", "A0 01 03 A4", "4 字节：A0 01 03 A4 — 第一路 打开，校验和正确");
        row("channel 1 off", "A0 01 02 A3", "4 字节：A0 01 02 A3 — 第一路 关闭，校验和正确");
        row("channel 1 reverse", "A0 01 04 A5", "4 字节：A0 01 04 A5 — 第一路 反向，校验和正确");
        row("channel 2 on", "A0 02 03 A5", "4 字节：A0 02 03 A5 — 第二路 打开，校验和正确");
        row("channel 2 off", "A0 02 02 A4", "4 字节：A0 02 02 A4 — 第二路 关闭，校验和正确");
        row("channel 2 reverse", "A0 02 04 A6", "4 字节：A0 02 04 A6 — 第二路 反向，校验和正确");
        row("all on", "24 01 04 01 02 02 2E", "7 字节：24 01 04 01 02 02 2E — 全开，校验和正确");
        row("all off", "24 01 04 01 01 01 2C", "7 字节：24 01 04 01 01 01 2C — 全关，校验和正确");
        // Written otherwise, the bytes are shown as they will go out.
        row("lower case, no spaces", "a00103a4", "4 字节：A0 01 03 A4 — 第一路 打开，校验和正确");
        // Wrong checksums.
        row("wrong checksum", "A0 01 03 A5",
            "4 字节：A0 01 03 A5 — 第一路 打开，校验和不符，应为 A4");
        row("wrong all-off checksum", "24 01 04 01 01 01 00",
            "7 字节：24 01 04 01 01 01 00 — 全关，校验和不符，应为 2C");
        // Unknown frames.
        row("channel 3", "A0 03 03 A6", "4 字节：A0 03 03 A6 — 未知的帧");
        row("one byte", "A0", "1 字节：A0 — 未知的帧");
        row("one byte too many", "A0 01 03 A4 00", "5 字节：A0 01 03 A4 00 — 未知的帧");
        // Nothing to send.
        row("empty", "", "没有可发送的字节");
        row("spaces", "   ", "没有可发送的字节");
        row("not hex", "ZZ", "没有可发送的字节：第 1 对 “ZZ” 不是十六进制数");
        row("lone digit", "5", "没有可发送的字节：末尾的 “5” 只有一位数字，凑不成一个字节");
        row("lone character", "x", "没有可发送的字节：末尾的 “x” 不是十六进制数");
        row("too long", QString(40000, u'0'),
            "没有可发送的字节：命令有 40000 个字符，超过了 32767 个字符的上限，一个字节也不转换");
        // Early stops: why, then what will be sent.
        row("bad pair", "A0 01 0G A4",
            "只转换了前 2 字节：第 3 对 “0G” 不是十六进制数\n2 字节：A0 01 — 未知的帧");
        row("lone last digit", "A0 01 03 A4 5",
            "只转换了前 4 字节：末尾的 “5” 只有一位数字，凑不成一个字节\n"
            "4 字节：A0 01 03 A4 — 第一路 打开，校验和正确");
        row("lone zero after a byte", "A0 0",
            "只转换了前 1 字节：末尾的 “0” 只有一位数字，凑不成一个字节\n1 字节：A0 — 未知的帧");
        row("tab shown by its code", "A0\t01",
            "只转换了前 1 字节：第 2 对 “<U+0009>0” 不是十六进制数\n1 字节：A0 — 未知的帧");
        row("ideographic space shown by its code", QStringLiteral("A0\u300001"),
            "只转换了前 1 字节：第 2 对 “<U+3000>0” 不是十六进制数\n1 字节：A0 — 未知的帧");
        row("character beyond 16 bits shown as itself", QStringLiteral("A0\U0001F600"),
            QStringLiteral("只转换了前 1 字节：第 2 对 “\U0001F600” 不是十六进制数\n"
                           "1 字节：A0 — 未知的帧"));
        row("lone surrogate shown by its code", QStringLiteral("A0 1") + QChar(0xD83D),
            "只转换了前 1 字节：第 2 对 “1<U+D83D>” 不是十六进制数\n1 字节：A0 — 未知的帧");
    }

    void tip() {
        QFETCH(QString, text);
        QFETCH(QString, tip);
        QCOMPARE(logic::commandTextTip(text), tip);
    }

    // Every frame of the table is named and found correct.
    void everyTableFrameIsKnown() {
        for (const codec::CommandText& entry : codec::kCommandTexts) {
            const QString tip = logic::commandTextTip(logic::toQString(entry.text));
            QVERIFY2(tip.endsWith(u"，校验和正确"), qPrintable(tip));
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandTip)
#include "tst_command_tip.moc"

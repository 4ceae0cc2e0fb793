// The window logic on the real Linux device, a pseudo-terminal and the simulated board on its
// master: start-up, a command and its echo, a flood in random chunks, and a lost port, through
// the real event loop. The controls are the in-memory double.

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "fakes/fake_toolkit.h"
#include "serial/linux_comm_device.h"
#include "serial/port_manager.h"
#include "serial/pseudo_terminal.h"
#include "serial/relay_board_sim.h"
#include "ui/frmmain.h"

using fakes::FakeToolkit;
using ui::Control;

namespace {

const QString kHeader = QStringLiteral("\r\n-->收到数据:");

QString entries(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size() * 3);
    for (const char byte : bytes) {
        text += QStringLiteral(" %1").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

// COM1 bound to a fresh pseudo-terminal with the board on it, and the logic started up.
struct Rig {
    serial::PseudoTerminal terminal;
    std::unique_ptr<serial::RelayBoardSim> board =
        std::make_unique<serial::RelayBoardSim>(terminal);
    serial::LinuxCommDevice device{serial::PortNumbering({{1, terminal.slavePath()}})};
    FakeToolkit toolkit;
    ui::frmmain logic{device, toolkit};

    Rig() {
        toolkit.comboIndex = 0;
        toolkit.texts[Control::Text1].clear();
        logic.Form_Load();
    }
    ~Rig() { device.PortOpen(false); }
};

}  // namespace

class TestSerialLink : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const serial::PseudoTerminal terminal;
        if (!terminal.isOpen()) {
            QSKIP(qPrintable(u"this machine gives no pseudo-terminal: " + terminal.errorString()));
        }
    }

    void startUpOpensTheBoundPort() {
        Rig rig;
        QVERIFY(rig.toolkit.messages.isEmpty());
        QCOMPARE(rig.toolkit.captions[Control::Command1], serial::kOpenCaption);
        QVERIFY(rig.device.PortOpen());
    }

    void commandAndEcho() {
        Rig rig;
        rig.logic.on1_Click(0);
        const QString expected =
            QStringLiteral("\r\n发出数据:A0 01 03 A4") + kHeader + QStringLiteral(" A0 01 03 A4");
        QTRY_COMPARE(rig.toolkit.texts[Control::Text1], expected);
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4 A0 01 03 A4"));
        QVERIFY(rig.board->board().relayOn(1));
    }

    // A mebibyte sent in chunks of random sizes arrives complete and in order in both boxes,
    // behind the header of the one send before it.
    void floodInRandomChunks() {
        Rig rig;
        rig.board->setSilent(true);
        rig.logic.Command11_Click();
        QTRY_COMPARE(rig.board->board().acceptedFrames(), std::size_t{1});

        QRandomGenerator random(1207);
        QByteArray flood(1 << 20, Qt::Uninitialized);
        for (char& byte : flood) {
            byte = char(random.bounded(256));
        }
        for (qsizetype at = 0; at < flood.size();) {
            const qsizetype chunk = std::min<qsizetype>(random.bounded(1, 5000), flood.size() - at);
            rig.board->send(flood.mid(at, chunk));
            at += chunk;
            QCoreApplication::processEvents();
        }
        const QString shown = entries(flood);
        QTRY_COMPARE_WITH_TIMEOUT(rig.toolkit.texts[Control::Text4].size(),
                                  QStringLiteral("Text4").size() + shown.size(), 20000);
        QCOMPARE(rig.toolkit.texts[Control::Text4], QStringLiteral("Text4") + shown);
        QVERIFY(rig.toolkit.texts[Control::Text1].endsWith(kHeader + shown));
    }

    // The board hangs up: the closed state, one message naming the device, and every byte shown
    // before still there. (Bytes still in flight when a pseudo-terminal's master hangs up are
    // flushed by the kernel; the device's own tests cover bytes it had taken but not delivered.)
    // The port button then finds the port gone.
    void lostPort() {
        Rig rig;
        rig.logic.on2_Click(0);
        QTRY_VERIFY(rig.toolkit.texts[Control::Text4].endsWith(QStringLiteral("A0 02 03 A5")));
        rig.board->send(QByteArray::fromHex("0102"));
        QTRY_VERIFY(rig.toolkit.texts[Control::Text4].endsWith(QStringLiteral("01 02")));
        rig.board->hangUp();

        QTRY_COMPARE(rig.toolkit.messages.size(), 1);
        QVERIFY2(rig.toolkit.messages.first().contains(rig.terminal.slavePath()),
                 qPrintable(rig.toolkit.messages.first()));
        QCOMPARE(rig.toolkit.captions[Control::Command1], serial::kClosedCaption);
        QCOMPARE(rig.toolkit.fillColors[Control::Shape1], ui::kLampClosed);
        QVERIFY(rig.toolkit.texts[Control::Text4].endsWith(QStringLiteral("A0 02 03 A5 01 02")));
        QVERIFY(!rig.device.PortOpen());

        rig.logic.Command1_Click();
        QCOMPARE(rig.toolkit.messages.last(), serial::kPortMissingMessage);
        QCOMPARE(rig.toolkit.captions[Control::Command1], serial::kClosedCaption);
    }
};

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_serial_link.moc"

// SPDX-License-Identifier: GPL-3.0-or-later
// The traffic record's file: the fields of every event, appending to what the file held, one
// write per event, files that cannot be opened, and writes that fail (a full device, a removed
// file, a short write) stopping the record with one message.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "app/record_file.h"

namespace {

QStringList fileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(u'\n');
}

std::unique_ptr<app::RecordFile> openRecord(const QString& path) {
    QString error;
    auto record = app::RecordFile::open(path, error);
    [&] { QVERIFY2(record, qPrintable(error)); }();
    if (record) {
        record->setDevicePaths([](std::int16_t port) {
            return port == 1 ? QStringLiteral("/dev/tty\tUSB0") : QStringLiteral("/dev/ttyS1");
        });
    }
    return record;
}

// Sets the local time zone for the life of the object.
class TimeZone {
public:
    explicit TimeZone(const QByteArray& zone)
        : m_old(qgetenv("TZ")), m_had(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        ::tzset();
    }
    ~TimeZone() {
        if (m_had) {
            qputenv("TZ", m_old);
        } else {
            qunsetenv("TZ");
        }
        ::tzset();
    }
    TimeZone(const TimeZone&) = delete;
    TimeZone& operator=(const TimeZone&) = delete;

private:
    QByteArray m_old;
    bool m_had;
};

const std::vector<std::uint8_t> kFrame{0xA0, 0x01, 0x03, 0xA4};

}  // namespace

class TestRecordFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // Every kind of event, in a file that already held a line: six fields each, the time local
    // with its offset, the port and device of the port open at the time.
    void fields_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("offset");
        QTest::newRow("UTC") << QByteArray("UTC0") << "+00:00";
        QTest::newRow("east of Greenwich") << QByteArray("<+0530>-5:30") << "+05:30";
        QTest::newRow("west of Greenwich") << QByteArray("<-0330>3:30") << "-03:30";
    }

    void fields() {
        QFETCH(QByteArray, zone);
        QFETCH(QString, offset);
        const TimeZone local(zone);
        const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        {
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::WriteOnly));
            earlier.write("an earlier run\n");
        }
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1);
        {
            const auto record = openRecord(path);
            QVERIFY(record);
            record->errorShown(QStringLiteral("串口不存在！"));
            record->portOpened(1, QStringLiteral("9600,N,8,1"));
            record->frameWritten(QStringLiteral("A0 01 03 A4"), kFrame);
            record->bytesReceived(std::vector<std::uint8_t>{0x0A, 0xFF, 0x00});
            record->frameWritten(QStringLiteral("a0\t0G\\ \r\n"), std::span(kFrame).first(1));
            record->frameWritten(QStringLiteral("ZZ"), {});
            record->portClosed(1);
            record->portOpened(2, QStringLiteral("9600,N,8,1"));
            record->portLost(2, QStringLiteral("串口 /dev/ttyS1 已断开"));
            record->errorShown(QStringLiteral("串口 /dev/ttyS1 已断开"));
            QVERIFY(!record->stopped());
        }
        const QDateTime after = QDateTime::currentDateTime().addMSecs(1);

        QStringList lines = fileLines(path);
        QCOMPARE(lines.takeFirst(), QStringLiteral("an earlier run"));
        QCOMPARE(lines.takeLast(), QString());  // the file ends with a whole line
        const QStringList expected{
            "error\t\t\t串口不存在！\t",
            "opened\tCOM1\t/dev/tty\\tUSB0\t9600,N,8,1\t",
            "sent\tCOM1\t/dev/tty\\tUSB0\tA0 01 03 A4\tA0 01 03 A4",
            "received\tCOM1\t/dev/tty\\tUSB0\t\t0A FF 00",
            "sent\tCOM1\t/dev/tty\\tUSB0\ta0\\t0G\\\\ \\r\\n\tA0",
            "sent\tCOM1\t/dev/tty\\tUSB0\tZZ\t",
            "closed\tCOM1\t/dev/tty\\tUSB0\t\t",
            "opened\tCOM2\t/dev/ttyS1\t9600,N,8,1\t",
            "lost\tCOM2\t/dev/ttyS1\t串口 /dev/ttyS1 已断开\t",
            "error\t\t\t串口 /dev/ttyS1 已断开\t",
        };
        QCOMPARE(lines.size(), expected.size());
        static const QRegularExpression time(
            QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}([+-]\d\d:\d\d)$)"));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString stamp = lines[i].section(u'\t', 0, 0);
            QCOMPARE(lines[i].section(u'\t', 1), expected[i]);
            QCOMPARE(lines[i].count(u'\t'), 5);
            const QRegularExpressionMatch match = time.match(stamp);
            QVERIFY2(match.hasMatch(), qPrintable(stamp));
            QCOMPARE(match.captured(1), offset);
            const QDateTime at = QDateTime::fromString(stamp, Qt::ISODateWithMs);
            QVERIFY2(at >= before && at <= after, qPrintable(stamp));
        }
    }

    // Once the port is closed or lost, and no other is open, what follows names no port and no
    // device.
    void afterTheEndOfAPortNoneIsNamed_data() {
        QTest::addColumn<bool>("lost");
        QTest::newRow("closed") << false;
        QTest::newRow("lost") << true;
    }

    void afterTheEndOfAPortNoneIsNamed() {
        QFETCH(bool, lost);
        const QString path =
            m_dir.filePath(u"ended-" + QString::fromLatin1(QTest::currentDataTag()));
        {
            const auto record = openRecord(path);
            QVERIFY(record);
            record->portOpened(1, QStringLiteral("9600,N,8,1"));
            if (lost) {
                record->portLost(1, QStringLiteral("串口已断开"));
            } else {
                record->portClosed(1);
            }
            record->errorShown(QStringLiteral("串口 COM1 未打开。"));
            record->frameWritten(QStringLiteral("A0 01 03 A4"), {});
        }
        const QStringList lines = fileLines(path);
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines[2].section(u'\t', 1), QStringLiteral("error\t\t\t串口 COM1 未打开。\t"));
        QCOMPARE(lines[3].section(u'\t', 1), QStringLiteral("sent\t\t\tA0 01 03 A4\t"));
    }

    // Each event is one write, whole, however long: on a socket that keeps writes apart, one
    // packet per event, each one line.
    void oneWritePerEvent() {
        std::array<int, 2> pair{};
        QCOMPARE(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair.data()), 0);
        std::fflush(stdout);
        const int savedOut = ::dup(STDOUT_FILENO);
        QVERIFY(::dup2(pair[0], STDOUT_FILENO) >= 0);
        const std::vector<std::uint8_t> flood(5000, 0x5A);
        {
            const auto record = openRecord(QStringLiteral("-"));
            record->portOpened(1, QStringLiteral("9600,N,8,1"));
            record->frameWritten(QStringLiteral("A0 01 03 A4"), kFrame);
            record->bytesReceived(flood);
            record->portClosed(1);
        }
        ::dup2(savedOut, STDOUT_FILENO);
        ::close(savedOut);
        ::close(pair[0]);

        QStringList events;
        std::vector<char> packet(64 * 1024);
        for (ssize_t n = 0;
             (n = ::recv(pair[1], packet.data(), packet.size(), MSG_DONTWAIT)) > 0;) {
            events << QString::fromUtf8(packet.data(), n);
        }
        ::close(pair[1]);
        QCOMPARE(events.size(), 4);
        const QStringList kinds{"opened", "sent", "received", "closed"};
        for (qsizetype i = 0; i < events.size(); ++i) {
            QVERIFY(events[i].endsWith(u'\n'));
            QCOMPARE(events[i].count(u'\n'), 1);
            QCOMPARE(events[i].section(u'\t', 1, 1), kinds[i]);
        }
        QVERIFY(
            events[2].endsWith(u'\t' + QStringLiteral("5A ").repeated(5000).chopped(1) + u'\n'));
    }

    void cannotOpen_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "no-such-folder/record.log"
                                        << "No such file or directory";
        QTest::newRow("a folder") << "."
                                  << "Is a directory";
        // Opening it for writing would wait for a reader.
        QTest::newRow("a FIFO nobody reads") << "fifo"
                                             << "it is a FIFO that no program is reading";
    }

    void cannotOpen() {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        const QString full = m_dir.filePath(path);
        if (path == u"fifo") {
            QFile::remove(full);
            QCOMPARE(::mkfifo(QFile::encodeName(full).constData(), 0644), 0);
        }
        QString error;
        QVERIFY(!app::RecordFile::open(full, error));
        QVERIFY2(error.contains(full) && error.contains(reason), qPrintable(error));
    }

    // A write that fails stops the record: one failure to show, then nothing more is written.
    void failingWrites_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("full device") << "full"
                                     << "No space left on device";
        QTest::newRow("removed file") << "removed"
                                      << "the file was removed";
        // The disk fills up within a line: what fitted of it is taken back.
        QTest::newRow("short write") << "short"
                                     << "File too large";
    }

    void failingWrites() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        const QString path = kind == u"full" ? QStringLiteral("/dev/full") : m_dir.filePath(kind);
        if (kind == u"full" && !QFile::exists(path)) {
            QSKIP("this machine has no /dev/full");
        }
        const auto record = openRecord(path);
        QVERIFY(record);
        record->portOpened(1, QStringLiteral("9600,N,8,1"));
        QVERIFY(!record->stopped() || kind == u"full");
        const qint64 whole = QFileInfo(path).size();
        rlimit oldLimit{};
        ::getrlimit(RLIMIT_FSIZE, &oldLimit);
        if (kind == u"removed") {
            QVERIFY(QFile::remove(path));
        } else if (kind == u"short") {
            // A file size limit just past the first line: the next line is written in part.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = oldLimit;
            limit.rlim_cur = static_cast<rlim_t>(QFileInfo(path).size() + 100);
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        }
        record->bytesReceived(std::vector<std::uint8_t>(200, 0x11));
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
        std::signal(SIGXFSZ, SIG_DFL);

        QVERIFY(record->stopped());
        if (kind == u"short") {
            QCOMPARE(QFileInfo(path).size(), whole);
            QVERIFY(fileLines(path).constLast().isEmpty());
        }
        const QString failure = record->takeFailure();
        QVERIFY2(failure.contains(path) && failure.contains(reason), qPrintable(failure));
        QVERIFY(record->takeFailure().isEmpty());
        if (kind == u"short") {
            record->portClosed(1);
            QCOMPARE(QFileInfo(path).size(), whole);
            QVERIFY(record->takeFailure().isEmpty());
        }
    }

    // A reader that does not keep up (a pager left unscrolled) never makes the record wait: what
    // it has not taken waits and follows, in order and in whole lines, as it reads. Once it falls
    // a whole buffer behind, the record stops, says how many lines were not written, and the
    // reader still gets only whole lines.
    void slowReader() {
        const QString fifo = m_dir.filePath(QStringLiteral("slow-reader"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0644), 0);
        const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        const struct Close {
            int fd;
            ~Close() { ::close(fd); }
        } closeReader{reader};
        QByteArray got;
        const auto read = [&] {
            QCoreApplication::processEvents();
            std::array<char, 65536> buffer{};
            for (ssize_t n = 0; (n = ::read(reader, buffer.data(), buffer.size())) > 0;) {
                got.append(buffer.data(), n);
            }
            return got;
        };
        const auto record = openRecord(fifo);
        QVERIFY(record);
        // Replies of about 3 KiB a line, each numbered, and a command sent after every tenth,
        // while the reader takes what it can now and then: in all many more than the FIFO holds,
        // far fewer than the buffer. Every line arrives, whole and in order.
        const std::vector<std::uint8_t> bytes(1000, 0x33);
        constexpr int kSome = 100;
        QStringList expected;
        for (int i = 0; i < kSome; ++i) {
            auto numbered = bytes;
            numbered.front() = static_cast<std::uint8_t>(i);
            record->bytesReceived(numbered);
            expected << u"received\t" + QString::number(i, 16).rightJustified(2, u'0').toUpper();
            if (i % 10 == 9) {
                record->frameWritten(QStringLiteral("A0 01 03 A4"), kFrame);
                expected << QStringLiteral("sent");
            }
            // Every 30 lines, about 90 KiB, more than the FIFO holds: some wait each time.
            if (i % 30 == 29) {
                read();
            }
        }
        QVERIFY(!record->stopped());
        QTRY_COMPARE(read().count('\n'), expected.size());
        QVERIFY(got.endsWith('\n'));
        const QList<QByteArray> lines = got.split('\n');
        for (qsizetype i = 0; i < expected.size(); ++i) {
            const QString event = QString::fromUtf8(lines[i]).section(u'\t', 1, 1);
            const QString first = QString::fromUtf8(lines[i]).section(u'\t', 5).left(2);
            const QString seen = event == u"sent" ? event : event + u'\t' + first;
            QCOMPARE(seen, expected[i]);
            QCOMPARE(lines[i].count('\t'), 5);
        }

        got.clear();
        int recorded = 0;
        while (!record->stopped() && recorded < 2 * app::RecordFile::kMaxWaiting / 3000) {
            record->bytesReceived(bytes);
            ++recorded;
        }
        QVERIFY(record->stopped());
        const QString failure = record->takeFailure();
        static const QRegularExpression lost(QStringLiteral("and (\\d+) lines were not written"));
        const QRegularExpressionMatch match = lost.match(failure);
        QVERIFY2(match.hasMatch() && failure.contains(fifo), qPrintable(failure));
        QTRY_VERIFY(read().endsWith('\n'));
        const QList<QByteArray> rest = read().split('\n');
        QCOMPARE(rest.size() - 1 + match.captured(1).toInt(), recorded);
        const QByteArray field = QByteArray("\t") + QByteArray("33 ").repeated(1000).chopped(1);
        for (qsizetype i = 0; i + 1 < rest.size(); ++i) {
            QVERIFY2(rest[i].endsWith(field) && rest[i].count('\t') == 5,
                     qPrintable(QStringLiteral("line %1 is not whole").arg(i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestRecordFile)
#include "tst_record_file.moc"

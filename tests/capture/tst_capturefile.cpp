// The capture's day file read back with libpcap: the one-month rule, and packets that cannot be
// written told once, counted, and never left half in the file.
#include "program/stopsignals.h"
#include "capture/capturefile.h"
#include "capture/packets.h"
#include "capture/capturetap.h"
#include "support/capturereader.h"

#include <QTemporaryDir>
#include <QtTest>
#include <sys/resource.h>

namespace {

const QDate kToday(2018, 7, 24);

timespec NoonOf(const QDate& date)
{
    return {time_t(QDateTime(date, QTime(12, 0)).toSecsSinceEpoch()), 123456789};
}

QByteArray Datagram(const QByteArray& payload)
{
    return UdpPacket({QHostAddress::LocalHost, 40000, QHostAddress::LocalHost, 50000}, payload);
}

} // namespace

class TestCaptureFile : public QObject {
    Q_OBJECT
private slots:
    void oneMonthRule_data();
    void oneMonthRule();
    void failuresToldOnceAndCounted();
};

void TestCaptureFile::oneMonthRule_data()
{
    QTest::addColumn<QDate>("firstPacketDate");
    QTest::addColumn<QByteArrayList>("payloadsAfter");
    QTest::newRow("today: appended") << kToday << QByteArrayList{"old", "new"};
    QTest::newRow("a month ago: emptied") << kToday.addMonths(-1) << QByteArrayList{"new"};
    QTest::newRow("a year ago: emptied") << kToday.addYears(-1) << QByteArrayList{"new"};
}

void TestCaptureFile::oneMonthRule()
{
    QFETCH(QDate, firstPacketDate);
    QFETCH(QByteArrayList, payloadsAfter);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("made/here"));
    {
        CaptureFile earlier(folder, firstPacketDate);
        QCOMPARE(earlier.Write(Datagram("old"), NoonOf(firstPacketDate)), QString());
    }
    CaptureFile today(folder, kToday);
    QCOMPARE(today.Path(), folder + QStringLiteral("/24.pcap"));
    QCOMPARE(today.Write(Datagram("new"), NoonOf(kToday)), QString());

    QString error;
    const QList<CapturedPacket> packets = ReadCapture(today.Path(), &error);
    QByteArrayList payloads;
    for (const CapturedPacket& packet : packets)
        payloads << packet.payload;
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(payloads, payloadsAfter);
    QCOMPARE(packets.constLast().nanoseconds % 1000000000, 123456789);
}

void TestCaptureFile::failuresToldOnceAndCounted()
{
    IgnoreFileSizeSignal();
    QTemporaryDir dir;
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    QFile(elsewhere).open(QIODevice::WriteOnly);
    CaptureFile file(dir.path(), kToday);
    QVERIFY(QFile::link(elsewhere, file.Path()));
    QStringList notices;
    CaptureTap tap(file, [&](const QString& line) { notices << line; });
    const auto send = [&](const QByteArray& payload) {
        tap.Datagram(50000, QHostAddress(QHostAddress::LocalHost), 40000, true, payload);
    };

    // Never through the link; told once for the whole run of failures.
    for (int i = 0; i < 3; ++i)
        send("lost");
    QCOMPARE(QFileInfo(elsewhere).size(), 0);
    QCOMPARE(notices,
             QStringList{QStringLiteral("Capture Err: ") +
                         "Not a regular file (" + file.Path() + ")"});
    QFile::remove(file.Path());
    send("first");
    QCOMPARE(notices.value(1), QStringLiteral("Capture Err: 3 packets not written."));

    // A packet cut short by a full file is taken out again, so the file stays whole.
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlim_t unlimited = limit.rlim_cur;
    limit.rlim_cur = rlim_t(QFileInfo(file.Path()).size() + 50);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    send(QByteArray(100, 'x'));
    limit.rlim_cur = unlimited;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    QCOMPARE(notices.size(), 3);
    QVERIFY2(notices.at(2).startsWith(QStringLiteral("Capture Err: ") +
                                      QString::fromLocal8Bit(std::strerror(EFBIG))),
             qPrintable(notices.at(2)));
    send("second");
    QCOMPARE(notices.value(3), QStringLiteral("Capture Err: 1 packets not written."));
    QByteArrayList payloads;
    for (const CapturedPacket& packet : ReadCapture(file.Path()))
        payloads << packet.payload;
    QCOMPARE(payloads, (QByteArrayList{"first", "second"}));
}

QTEST_GUILESS_MAIN(TestCaptureFile)
#include "tst_capturefile.moc"

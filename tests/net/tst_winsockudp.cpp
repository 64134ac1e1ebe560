#include "net/raisederror.h"
#include "net/winsock.h"
#include "support/winsockevents.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void BindOnAnyPort(Winsock& socket)
{
    socket.SetProtocol(Winsock::sckUDPProtocol);
    socket.SetLocalPort(0);
    socket.Bind();
}

// Whether this user may give a socket a receive buffer of `bytes`: a privileged one may, an
// ordinary one up to the system's limit (net.core.rmem_max). The system reports twice the size.
bool MayHaveReceiveBuffer(int bytes)
{
    const int probe = ::socket(AF_INET6, SOCK_DGRAM, 0);
    if (::setsockopt(probe, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        ::setsockopt(probe, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t size = sizeof granted;
    ::getsockopt(probe, SOL_SOCKET, SO_RCVBUF, &granted, &size);
    ::close(probe);
    return granted / 2 >= bytes;
}

} // namespace

class TestWinsockUdp : public QObject {
    Q_OBJECT
private slots:
    void boundControlTakesEachDatagramAndRepliesToItsSender_data();
    void boundControlTakesEachDatagramAndRepliesToItsSender();
    void connectKeepsSendsMadeBeforeTheHostIsResolved_data();
    void connectKeepsSendsMadeBeforeTheHostIsResolved();
    void floodIsDeliveredInTurnsSoTimersStillRun();
    void burstWhileBusyWaitsInTheSystem();
    void closeInsideAnArrivalStopsTheRest();
    void closeCountsWhatStillWaits();
    void closeAfterADrainTellsNothingMore();
};

void TestWinsockUdp::boundControlTakesEachDatagramAndRepliesToItsSender_data()
{
    QTest::addColumn<QHostAddress>("peerAddress");
    QTest::newRow("IPv4 peer") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("IPv6 peer") << QHostAddress(QHostAddress::LocalHostIPv6);
}

void TestWinsockUdp::boundControlTakesEachDatagramAndRepliesToItsSender()
{
    QFETCH(QHostAddress, peerAddress);
    if (peerAddress.protocol() == QAbstractSocket::IPv6Protocol && !HasIPv6Loopback())
        QSKIP("This machine has no IPv6 loopback.");
    Winsock socket;
    WinsockEvents events(socket);
    BindOnAnyPort(socket);
    QList<QByteArray> taken;
    connect(&socket, &Winsock::DataArrival, this, [&](qint64) { taken << socket.GetData(); });
    QUdpSocket first;
    QUdpSocket second;
    QVERIFY(first.bind(peerAddress, 0));
    QVERIFY(second.bind(peerAddress, 0));
    QList<QByteArray> toFirst;
    QList<QByteArray> toSecond;
    CollectDatagrams(first, toFirst);
    CollectDatagrams(second, toSecond);
    const quint16 port = quint16(socket.LocalPort());

    for (const QByteArray& datagram : {QByteArray("one"), QByteArray(), QByteArray("three")})
        first.writeDatagram(datagram, peerAddress, port);
    QTRY_COMPARE(taken.size(), 3);
    QCOMPARE(taken, QList<QByteArray>({"one", "", "three"}));
    QCOMPARE(events.arrivals.at(1).at(0).toLongLong(), 0);

    socket.SendData(QString("back"));
    QCOMPARE(events.sendsCompleted.count(), 0);
    QTRY_COMPARE(toFirst, QList<QByteArray>({"back"}));
    QTRY_COMPARE(events.sendsCompleted.count(), 1);

    second.writeDatagram("x", peerAddress, port);
    QTRY_COMPARE(taken.size(), 4);
    QCOMPARE(taken, QList<QByteArray>({"one", "", "three", "x"})); // kept copies stay as taken
    socket.SendData(QByteArray("to second"));
    QTRY_COMPARE(toSecond, QList<QByteArray>({"to second"}));
    QCOMPARE(toFirst.size(), 1);
    QCOMPARE(events.errors.count(), 0);
}

void TestWinsockUdp::connectKeepsSendsMadeBeforeTheHostIsResolved_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("host name") << "localhost";
    QTest::newRow("IPv4 address") << "127.0.0.1";
}

void TestWinsockUdp::connectKeepsSendsMadeBeforeTheHostIsResolved()
{
    QFETCH(QString, host);
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
    QList<QByteArray> toPeer;
    CollectDatagrams(peer, toPeer);
    Winsock socket;
    WinsockEvents events(socket);
    socket.SetProtocol(Winsock::sckUDPProtocol);
    socket.SetLocalPort(0);
    socket.SetRemoteHost(host);
    socket.SetRemotePort(peer.localPort());
    socket.Connect();
    for (const char* datagram : {"1", "2", "3"})
        socket.SendData(QByteArray(datagram));
    QCOMPARE(events.sendsCompleted.count(), 0);
    QTRY_COMPARE(toPeer, QList<QByteArray>({"1", "2", "3"}));
    QTRY_COMPARE(events.sendsCompleted.count(), 3);

    peer.writeDatagram("answer", QHostAddress::LocalHost, quint16(socket.LocalPort()));
    QVERIFY(events.arrivals.wait(kLoopbackWaitMs));
    QCOMPARE(socket.GetData(), QByteArray("answer"));
    QCOMPARE(socket.GetData(), QByteArray()); // taken once
    QCOMPARE(events.errors.count(), 0);
}

void TestWinsockUdp::floodIsDeliveredInTurnsSoTimersStillRun()
{
    constexpr int kFlood = 100;
    Winsock socket;
    BindOnAnyPort(socket);
    int arrivals = 0;
    connect(&socket, &Winsock::DataArrival, this, [&](qint64) {
        socket.GetData();
        ++arrivals;
        QElapsedTimer busy; // a slow handler, so that a turn takes long enough to notice
        busy.start();
        while (busy.elapsed() < 1) {
        }
    });
    bool tickedMidFlood = false;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this,
            [&] { tickedMidFlood = tickedMidFlood || (arrivals > 0 && arrivals < kFlood); });
    ticker.start(1);
    QUdpSocket peer;
    for (int i = 0; i < kFlood; ++i)
        peer.writeDatagram("f", QHostAddress::LocalHost, quint16(socket.LocalPort()));
    QTRY_COMPARE(arrivals, kFlood);
    QVERIFY(tickedMidFlood);
}

void TestWinsockUdp::burstWhileBusyWaitsInTheSystem()
{
    // Sent while this thread, the program's only one, does nothing else: the system holds them
    // all, about 25 MB of its own accounting, several times what a socket has by default.
    constexpr qint64 kBurst = 30000;
    if (!MayHaveReceiveBuffer(32 << 20))
        QSKIP("This user may not have a deep receive buffer (net.core.rmem_max).");
    Winsock socket;
    BindOnAnyPort(socket);
    qint64 arrivals = 0;
    qint64 lost = 0;
    connect(&socket, &Winsock::DataArrival, this, [&] {
        socket.GetData();
        ++arrivals;
    });
    connect(&socket, &Winsock::Lost, this, [&](qint64 count) { lost += count; });
    QUdpSocket peer;
    for (qint64 i = 0; i < kBurst; ++i)
        peer.writeDatagram("burst", QHostAddress::LocalHost, quint16(socket.LocalPort()));
    QTRY_VERIFY_WITH_TIMEOUT(arrivals + lost >= kBurst, 20000);
    QCOMPARE(lost, 0);
    QCOMPARE(arrivals, kBurst);
}

void TestWinsockUdp::closeInsideAnArrivalStopsTheRest()
{
    Winsock socket;
    WinsockEvents events(socket);
    BindOnAnyPort(socket);
    connect(&socket, &Winsock::DataArrival, this, [&] { socket.Close(); });
    QSignalSpy lost(&socket, &Winsock::Lost);
    QUdpSocket peer;
    for (const char* datagram : {"a", "b", "c"})
        peer.writeDatagram(datagram, QHostAddress::LocalHost, quint16(socket.LocalPort()));
    QVERIFY(events.arrivals.wait(kLoopbackWaitMs));
    QTest::qWait(100);
    QCOMPARE(events.Total(), 1);
    // Read together, the two the close kept from being shown are still counted.
    QCOMPARE(lost.size(), 1);
    QCOMPARE(lost.at(0).at(0).toLongLong(), 2);
    QCOMPARE(socket.State(), int(Winsock::sckClosed));
    try {
        socket.SendData(QByteArray("after close"));
        QFAIL("a send on a closed control must raise");
    } catch (const RaisedError& error) {
        QCOMPARE(error.number(), ErrorNumber::NotConnected);
    }
}

void TestWinsockUdp::closeCountsWhatStillWaits()
{
    constexpr qint64 kWaiting = 500;
    Winsock socket;
    WinsockEvents events(socket);
    BindOnAnyPort(socket);
    QSignalSpy lost(&socket, &Winsock::Lost);
    QUdpSocket peer;
    for (qint64 i = 0; i < kWaiting; ++i)
        peer.writeDatagram("w", QHostAddress::LocalHost, quint16(socket.LocalPort()));
    socket.Close(); // before the event loop has read any of them
    QTRY_COMPARE(lost.size(), 1);
    QCOMPARE(lost.at(0).at(0).toLongLong(), kWaiting);
    QCOMPARE(events.Total(), 0);
}

// A stop drains the socket, writes its End line and only then closes it: what a peer sends in
// between would be told after the End.
void TestWinsockUdp::closeAfterADrainTellsNothingMore()
{
    Winsock socket;
    WinsockEvents events(socket);
    BindOnAnyPort(socket);
    QSignalSpy lost(&socket, &Winsock::Lost);
    QUdpSocket peer;
    const quint16 port = quint16(socket.LocalPort());
    peer.writeDatagram("before", QHostAddress::LocalHost, port);
    socket.Drain();
    QCOMPARE(events.arrivals.count(), 1);
    for (int i = 0; i < 3; ++i)
        peer.writeDatagram("after", QHostAddress::LocalHost, port);
    socket.Close();
    QTest::qWait(100); // what a close tells comes through the event loop
    QCOMPARE(lost.size(), 0);
    QCOMPARE(events.arrivals.count(), 1);
}

QTEST_GUILESS_MAIN(TestWinsockUdp)
#include "tst_winsockudp.moc"

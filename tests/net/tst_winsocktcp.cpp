#include "net/raisederror.h"
#include "net/winsock.h"
#include "support/peers.h"
#include "support/winsockevents.h"

#include <QTcpServer>
#include <QTest>
#include <algorithm>
#include <memory>

namespace {

// A control connected to a plain Qt peer on 127.0.0.1.
struct Link {
    Link()
    {
        server.listen(QHostAddress::LocalHost, 0);
        socket.Connect("127.0.0.1", server.serverPort());
        if (events.connected.wait(kLoopbackWaitMs) && server.hasPendingConnections())
            peer.reset(server.nextPendingConnection());
        if (peer)
            CollectBytes(*peer, fromControl);
    }

    QTcpServer server;
    Winsock socket;
    WinsockEvents events{socket};
    std::unique_ptr<QTcpSocket> peer;
    QByteArray fromControl;
};

} // namespace

class TestWinsockTcp : public QObject {
    Q_OBJECT
private slots:
    void connectsAndExchanges_data();
    void connectsAndExchanges();
    void refusedConnectionGivesOneErrorEvent_data();
    void refusedConnectionGivesOneErrorEvent();
    void peerCloseComesAfterItsData();
    void floodComesInBoundedArrivalsBeforeTheClose();
    void everySendCompletesOnceAndTextGoesOutInTheCodePage();
    void largeSendArrivesWholeWithOneCompletion();
    void closeRightAfterConnectSilencesIt();
    void closeInsideAnEventSilencesWhatWasPending();
    void closeRightAfterSendStillDeliversTheBytes();
};

void TestWinsockTcp::connectsAndExchanges_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QHostAddress>("peerAddress");
    const QHostAddress v4(QHostAddress::LocalHost);
    const QHostAddress v6(QHostAddress::LocalHostIPv6);
    QTest::newRow("IPv4 address") << "127.0.0.1" << v4;
    QTest::newRow("IPv6 address") << "::1" << v6;
    QTest::newRow("localhost, peer on IPv4 only") << "localhost" << v4;
    QTest::newRow("localhost, peer on IPv6 only") << "localhost" << v6;
    QTest::newRow("localhost in capitals, peer on IPv6 only") << "LOCALHOST" << v6;
}

void TestWinsockTcp::connectsAndExchanges()
{
    QFETCH(QString, host);
    QFETCH(QHostAddress, peerAddress);
    if (peerAddress.protocol() == QAbstractSocket::IPv6Protocol && !HasIPv6Loopback())
        QSKIP("This machine has no IPv6 loopback.");
    QTcpServer server;
    QVERIFY(server.listen(peerAddress, 0));
    Winsock socket;
    WinsockEvents events(socket);
    socket.Connect(host, server.serverPort());
    QCOMPARE(events.connected.count(), 0);
    QVERIFY(events.connected.wait(kLoopbackWaitMs));
    QCOMPARE(socket.State(), int(Winsock::sckConnected));
    QTRY_VERIFY(server.hasPendingConnections());
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    QByteArray fromControl;
    CollectBytes(*peer, fromControl);

    socket.SendData(QByteArray("ping"));
    QTRY_COMPARE(fromControl, QByteArray("ping"));
    peer->write("pong");
    QVERIFY(events.arrivals.wait(kLoopbackWaitMs));
    QCOMPARE(events.arrivals.at(0).at(0).toLongLong(), 4);
    QCOMPARE(socket.GetData(), QByteArray("pong"));
    QCOMPARE(socket.GetData(), QByteArray());
    QCOMPARE(events.errors.count(), 0);
    QCOMPARE(events.sendsCompleted.count(), 1);
}

void TestWinsockTcp::refusedConnectionGivesOneErrorEvent_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("IPv4 address") << "127.0.0.1";
    QTest::newRow("localhost, both addresses refuse") << "localhost";
}

void TestWinsockTcp::refusedConnectionGivesOneErrorEvent()
{
    QFETCH(QString, host);
    Winsock socket;
    WinsockEvents events(socket);
    const HeldTcpPort refusing;
    socket.Connect(host, refusing.port());
    QCOMPARE(events.errors.count(), 0);
    QVERIFY(events.errors.wait(kLoopbackWaitMs));
    QTest::qWait(50);
    QCOMPARE(events.Total(), 1);
    QCOMPARE(events.errors.at(0).at(0).toInt(), ErrorNumber::ConnectionRefused);
    QCOMPARE(socket.State(), int(Winsock::sckError));
}

void TestWinsockTcp::peerCloseComesAfterItsData()
{
    Link link;
    QVERIFY(link.peer);
    QStringList order;
    connect(&link.socket, &Winsock::DataArrival, this, [&] { order << "data"; });
    connect(&link.socket, &Winsock::CloseEvent, this, [&] { order << "close"; });
    link.peer->write("bye");
    link.peer->disconnectFromHost();
    QVERIFY(link.events.closed.wait(kLoopbackWaitMs));
    QCOMPARE(order, QStringList({"data", "close"}));
    QCOMPARE(link.socket.State(), int(Winsock::sckClosing));
    QCOMPARE(link.socket.GetData(), QByteArray("bye"));
    try {
        link.socket.SendData(QByteArray("late"));
        QFAIL("a send after the peer closed must raise");
    } catch (const RaisedError& error) {
        QCOMPARE(error.number(), ErrorNumber::NotConnected);
    }
    QCOMPARE(link.events.errors.count(), 0);
}

void TestWinsockTcp::floodComesInBoundedArrivalsBeforeTheClose()
{
    Link link;
    QVERIFY(link.peer);
    QByteArray sent(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 7 + i / 4093);
    QByteArray taken;
    qint64 largest = 0;
    qint64 takenAtClose = -1;
    connect(&link.socket, &Winsock::DataArrival, this, [&] {
        const QByteArray piece = link.socket.GetData();
        largest = std::max(largest, qint64(piece.size()));
        taken += piece;
    });
    connect(&link.socket, &Winsock::CloseEvent, this, [&] { takenAtClose = taken.size(); });
    link.peer->write(sent);
    link.peer->disconnectFromHost();

    QVERIFY(link.events.closed.wait(10000));
    QCOMPARE(takenAtClose, qint64(sent.size()));
    QVERIFY(taken == sent);
    QVERIFY(largest <= Winsock::kMostBytesPerArrival);
    QCOMPARE(link.events.closed.count(), 1);
}

void TestWinsockTcp::everySendCompletesOnceAndTextGoesOutInTheCodePage()
{
    Link link;
    QVERIFY(link.peer);
    link.socket.SendData(QByteArray("a"));
    link.socket.SendData(QByteArray());
    link.socket.SendData(QString::fromUtf8("Bあ"));
    QCOMPARE(link.events.sendsCompleted.count(), 0);
    QTRY_COMPARE(link.events.sendsCompleted.count(), 3);
    QTRY_COMPARE(link.fromControl, QByteArray("aB\x82\xA0"));
    QTest::qWait(50);
    QCOMPARE(link.events.sendsCompleted.count(), 3);
}

void TestWinsockTcp::largeSendArrivesWholeWithOneCompletion()
{
    Link link;
    QVERIFY(link.peer);
    QByteArray payload(10 * 1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < payload.size(); ++i)
        payload[i] = char(i % 251);
    link.socket.SendData(payload);
    QTRY_COMPARE_WITH_TIMEOUT(link.fromControl.size(), payload.size(), 60000);
    QVERIFY(link.fromControl == payload);
    QTRY_COMPARE(link.events.sendsCompleted.count(), 1);
    QTest::qWait(50);
    QCOMPARE(link.events.sendsCompleted.count(), 1);
}

void TestWinsockTcp::closeRightAfterConnectSilencesIt()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    Winsock socket;
    WinsockEvents events(socket);
    socket.Connect("127.0.0.1", server.serverPort());
    socket.Close();
    QCOMPARE(socket.State(), int(Winsock::sckClosed));
    QTest::qWait(100);
    QCOMPARE(events.Total(), 0);
}

void TestWinsockTcp::closeInsideAnEventSilencesWhatWasPending()
{
    Link link;
    QVERIFY(link.peer);
    connect(&link.socket, &Winsock::DataArrival, this, [&] { link.socket.Close(); });
    link.peer->write("last words");
    link.peer->disconnectFromHost();
    QVERIFY(link.events.arrivals.wait(kLoopbackWaitMs));
    QTest::qWait(100);
    QCOMPARE(link.events.closed.count(), 0);
    QCOMPARE(link.socket.GetData(), QByteArray());
}

void TestWinsockTcp::closeRightAfterSendStillDeliversTheBytes()
{
    Link link;
    QVERIFY(link.peer);
    const QByteArray payload(256 * 1024, 'z');
    link.socket.SendData(payload);
    link.socket.Close();
    QSignalSpy peerDisconnected(link.peer.get(), &QTcpSocket::disconnected);
    QVERIFY(peerDisconnected.wait(kLoopbackWaitMs));
    QCOMPARE(link.fromControl.size(), payload.size());
    QCOMPARE(link.events.sendsCompleted.count(), 0);
}

QTEST_GUILESS_MAIN(TestWinsockTcp)
#include "tst_winsocktcp.moc"

#include "net/raisederror.h"
#include "net/winsock.h"
#include "support/winsockevents.h"

#include <QTest>

namespace
{

// A listening control whose ConnectionRequest handler stops listening and accepts on the same
// control, the way the receiver uses it.
struct Receiver {
    Receiver()
    {
        socket.SetLocalPort(0);
        socket.Listen();
        port = quint16(socket.LocalPort());
        QObject::connect(&socket, &Winsock::ConnectionRequest, &socket, [this](qint32 id) {
            socket.Close();
            try {
                socket.Accept(id);
            } catch (const RaisedError& error) {
                acceptFailures << error.number();
            }
        });
    }

    Winsock socket;
    WinsockEvents events{socket};
    quint16 port = 0;
    QList<int> acceptFailures;
};

void ConnectPeer(QTcpSocket& peer, quint16 port, const QHostAddress& to = QHostAddress::LocalHost)
{
    peer.connectToHost(to, port);
}

} // namespace

class TestWinsockListen : public QObject
{
    Q_OBJECT
private slots:
    void acceptedConnectionExchangesBothWays_data();
    void acceptedConnectionExchangesBothWays();
    void dataSentBeforeTheAcceptArrives();
    void secondPeerCannotConnectWhileOneIsAccepted();
    void unacceptedRequestIsClosed();
    void requestIdsAreFresh();
    void listensAgainOnTheSamePortAfterThePeerCloses();
};

void TestWinsockListen::acceptedConnectionExchangesBothWays_data()
{
    QTest::addColumn<QHostAddress>("peerFrom");
    QTest::newRow("IPv4 peer") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("IPv6 peer") << QHostAddress(QHostAddress::LocalHostIPv6);
}

void TestWinsockListen::acceptedConnectionExchangesBothWays()
{
    QFETCH(QHostAddress, peerFrom);
    if (peerFrom.protocol() == QAbstractSocket::IPv6Protocol && !HasIPv6Loopback())
        QSKIP("This machine has no IPv6 loopback.");
    Receiver receiver;
    QCOMPARE(receiver.socket.State(), int(Winsock::sckListening));
    QTcpSocket peer;
    QByteArray fromControl;
    CollectBytes(peer, fromControl);
    ConnectPeer(peer, receiver.port, peerFrom);
    QVERIFY(receiver.events.requests.wait(kLoopbackWaitMs));
    QVERIFY(receiver.acceptFailures.isEmpty());
    QCOMPARE(receiver.socket.State(), int(Winsock::sckConnected));

    QTRY_COMPARE(peer.state(), QAbstractSocket::ConnectedState);
    peer.write("hello");
    QVERIFY(receiver.events.arrivals.wait(kLoopbackWaitMs));
    QCOMPARE(receiver.socket.GetData(), QByteArray("hello"));
    receiver.socket.SendData(QString("reply"));
    QTRY_COMPARE(fromControl, QByteArray("reply"));

    peer.disconnectFromHost();
    QVERIFY(receiver.events.closed.wait(kLoopbackWaitMs));
    QCOMPARE(receiver.socket.State(), int(Winsock::sckClosing));
    QCOMPARE(receiver.events.errors.count(), 0);
}

void TestWinsockListen::dataSentBeforeTheAcceptArrives()
{
    Winsock socket;
    WinsockEvents events(socket);
    socket.Listen();
    connect(&socket, &Winsock::ConnectionRequest, this, [&](qint32 id) {
        QTest::qWait(100); // the peer's bytes reach the request before it is accepted
        socket.Close();
        socket.Accept(id);
    });
    QTcpSocket peer;
    ConnectPeer(peer, quint16(socket.LocalPort()));
    peer.write("early");
    QTRY_COMPARE(events.arrivals.count(), 1);
    QCOMPARE(socket.GetData(), QByteArray("early"));
}

void TestWinsockListen::secondPeerCannotConnectWhileOneIsAccepted()
{
    Receiver receiver;
    QTcpSocket first;
    ConnectPeer(first, receiver.port);
    QVERIFY(receiver.events.requests.wait(kLoopbackWaitMs));
    QTcpSocket second;
    QSignalSpy secondFailed(&second, &QAbstractSocket::errorOccurred);
    ConnectPeer(second, receiver.port);
    QVERIFY(secondFailed.wait(kLoopbackWaitMs));
    QCOMPARE(second.error(), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(receiver.events.requests.count(), 1);
    QCOMPARE(receiver.socket.State(), int(Winsock::sckConnected));
}

void TestWinsockListen::unacceptedRequestIsClosed()
{
    Winsock socket;
    WinsockEvents events(socket);
    socket.Listen();
    qint32 offered = 0;
    connect(&socket, &Winsock::ConnectionRequest, this, [&](qint32 id) { offered = id; });
    QTcpSocket peer;
    QSignalSpy peerDisconnected(&peer, &QAbstractSocket::disconnected);
    ConnectPeer(peer, quint16(socket.LocalPort()));
    QVERIFY(events.requests.wait(kLoopbackWaitMs));
    QVERIFY(peerDisconnected.wait(kLoopbackWaitMs));
    QCOMPARE(socket.State(), int(Winsock::sckListening));
    socket.Close();
    try {
        socket.Accept(offered);
        QFAIL("a request left by its handler must be gone");
    } catch (const RaisedError& error) {
        QCOMPARE(error.number(), ErrorNumber::InvalidArgument);
    }
}

void TestWinsockListen::requestIdsAreFresh()
{
    Winsock socket;
    WinsockEvents events(socket);
    socket.Listen();
    QTcpSocket first;
    QTcpSocket second;
    ConnectPeer(first, quint16(socket.LocalPort()));
    ConnectPeer(second, quint16(socket.LocalPort()));
    QTRY_COMPARE(events.requests.count(), 2);
    QVERIFY(events.requests.at(0).at(0).toInt() != events.requests.at(1).at(0).toInt());
}

void TestWinsockListen::listensAgainOnTheSamePortAfterThePeerCloses()
{
    Receiver receiver;
    QTcpSocket first;
    ConnectPeer(first, receiver.port);
    QVERIFY(receiver.events.requests.wait(kLoopbackWaitMs));
    QTRY_COMPARE(first.state(), QAbstractSocket::ConnectedState);
    first.disconnectFromHost();
    QVERIFY(receiver.events.closed.wait(kLoopbackWaitMs));

    receiver.socket.Close();
    receiver.socket.SetLocalPort(receiver.port);
    receiver.socket.Listen();
    QTcpSocket second;
    ConnectPeer(second, receiver.port);
    QVERIFY(receiver.events.requests.wait(kLoopbackWaitMs));
    QCOMPARE(receiver.socket.State(), int(Winsock::sckConnected));
    QVERIFY(receiver.acceptFailures.isEmpty());
}

QTEST_GUILESS_MAIN(TestWinsockListen)
#include "tst_winsocklisten.moc"

// What peers can do to the window: reset a connection in mid-stream on either socket, or flood
// the receiver while the operator sends. Each time the window shows it and goes on.
#include "net/clientlink.h"
#include "support/peers.h"
#include "support/windowfixture.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kSocketClose = QStringLiteral("Socket Close.");
const QString kSocket2Close = QStringLiteral("Socket2 Close.");

// Arrival lines only, none longer than 64 KB shown in hexadecimal.
bool OnlyBoundedArrivals(const QStringList& lines)
{
    for (const QString& line : lines) {
        if (line.startsWith(QStringLiteral("LOST[")))
            continue; // a flood may outrun the receiver; what the system drops is counted
        if (!line.startsWith(QStringLiteral("RCV[")) || line.size() > 2 * 64 * 1024 + 5)
            return false;
    }
    return true;
}

} // namespace

class TestPeerFaults : public QObject {
    Q_OBJECT
private slots:
    void clientLinkReset_data();
    void clientLinkReset();
    void receiverReset_data();
    void receiverReset();
    void floodOnTheReceiverWhileTheOperatorSends_data();
    void floodOnTheReceiverWhileTheOperatorSends();
};

void TestPeerFaults::clientLinkReset_data()
{
    QTest::addColumn<bool>("clientSending");
    QTest::newRow("while the peer streams") << false;
    QTest::newRow("while the client streams") << true;
}

void TestPeerFaults::clientLinkReset()
{
    QFETCH(bool, clientSending);
    TcpPeer peer;
    WindowFixture f;
    QVERIFY(f.connectClient(peer.port()));
    QTRY_COMPARE(peer.connectionCount(), 1);
    QTcpSocket* connection = peer.connection();
    ClientLink& client = f.window->Client();

    if (clientSending) {
        // The peer stops reading, so the payload is still on its way when the reset comes.
        connection->setReadBufferSize(1);
        f.ui().Text1->setText(QString(8 * 1024 * 1024, u'5'));
        f.ui().cmdOneShot->click();
        QTRY_VERIFY(!peer.received().isEmpty());
    } else {
        peer.send(QByteArray(1000, 'a'));
        QTRY_VERIFY(f.list1().constLast().startsWith(QStringLiteral("RCV[")));
        peer.send(QByteArray(1000, 'b'));
    }
    ResetConnection(connection);
    QTRY_COMPARE(f.list1().constLast(), kSocketClose);
    QCOMPARE(client.Variables().Connected, 0);
    QCOMPARE(client.Variables().SendDone, 1);
    QVERIFY(!f.list1().contains(QStringLiteral("Error Event Occured.")));
    QCOMPARE(f.list1().contains(QStringLiteral("Sended.")), false);

    const int before = f.list1().size();
    f.ticks(5);
    QTRY_COMPARE(f.list1().value(before + 1), QStringLiteral("Connected."));
    QTRY_COMPARE(peer.connectionCount(), 2);
}

void TestPeerFaults::receiverReset_data()
{
    QTest::addColumn<bool>("streamFirst");
    QTest::newRow("while the visitor streams") << true;
    QTest::newRow("right after connecting") << false;
}

void TestPeerFaults::receiverReset()
{
    QFETCH(bool, streamFirst);
    WindowFixture f;
    const quint16 port = f.openReceiver();
    QTcpSocket first;
    first.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE(first.state(), QAbstractSocket::ConnectedState);
    if (streamFirst) {
        QTRY_COMPARE(f.list2().size(), 1);
        first.write(QByteArray(1000, 'a'));
        QTRY_COMPARE(f.list2().size(), 2);
        first.write(QByteArray(1000, 'b'));
    }
    ResetConnection(&first);
    // The list may still be empty while the reset is on its way.
    QTRY_COMPARE(f.list2().value(f.list2().size() - 1), kSocket2Close);
    QVERIFY(f.list2().constFirst().startsWith(QStringLiteral("TCP/IP:requestID:")));

    // Listening again on the same port: the next visitor is taken and heard.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE(second.state(), QAbstractSocket::ConnectedState);
    second.write("hi");
    QTRY_COMPARE(f.list2().value(f.list2().size() - 1), QStringLiteral("RCV[6869]"));
    QVERIFY(!f.list2().contains(QStringLiteral("Error Event Occured.")));
}

void TestPeerFaults::floodOnTheReceiverWhileTheOperatorSends_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("tcp") << QString();
    QTest::newRow("udp") << QStringLiteral("udp");
}

void TestPeerFaults::floodOnTheReceiverWhileTheOperatorSends()
{
    QFETCH(QString, mode);
    const bool udp = !mode.isEmpty();
    WindowFixture f(mode);
    TcpPeer tcpPeer;
    UdpPeer udpPeer;
    QVERIFY(f.connectClient(udp ? udpPeer.port() : tcpPeer.port()));
    const quint16 port = f.openReceiver();

    Flooder flooder(udp, port);
    QTRY_VERIFY(f.list2().size() > 10);

    constexpr int kPresses = 5;
    // The operator's presses go through while arrivals keep coming.
    for (int i = 0; i < kPresses; ++i) {
        f.ui().cmdOneShot->click();
        QTRY_COMPARE(f.list1().count(QStringLiteral("Sended.")), i + 1);
    }

    const QByteArray payload("0016WGCS22000000");
    if (udp) {
        QTRY_COMPARE(udpPeer.datagrams().size(), kPresses);
        QCOMPARE(udpPeer.datagrams().constLast().data(), payload);
    } else {
        QTRY_COMPARE(tcpPeer.received(), payload.repeated(kPresses));
    }
    QCOMPARE(f.ui().lblCount->text(), QString::number(kPresses));
    QVERIFY(f.ui().List2->count() <= 1001);
    QVERIFY(OnlyBoundedArrivals(udp ? f.list2() : f.list2().mid(1)));
}

QTEST_MAIN(TestPeerFaults)
#include "tst_peerfaults.moc"

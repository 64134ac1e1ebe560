// The receiving half of the window against real loopback peers.
#include "net/receiver.h"
#include "support/peers.h"
#include "support/windowfixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {

// A TCP peer of the receiver: connects to the port and keeps what comes back.
struct Visitor {
    explicit Visitor(quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }
    QTcpSocket socket;
    QByteArray received;
};

// Opens the receiver and lets one visitor in: its request shown, its socket connected.
bool Admit(WindowFixture& f, std::unique_ptr<Visitor>& visitor)
{
    visitor = std::make_unique<Visitor>(f.openReceiver());
    return QTest::qWaitFor(
        [&] {
            return f.list2().size() == 1 &&
                   visitor->socket.state() == QAbstractSocket::ConnectedState;
        },
        5000);
}

QString RequestLinePrefix()
{
    return QStringLiteral("TCP/IP:requestID:");
}

} // namespace

class TestReceiver : public QObject {
    Q_OBJECT
private slots:
    void portText_data();
    void portText();
    void onePeerAtATimeThenListensAgainOnTheNewPort();
    void arrivalsInHexAndCharacters();
    void replyIsTrimmedAndSentAsText();
    void replyWithoutPeerIsReported();
    void errorEventClosesForTheRun();
    void failedAcceptClosesForTheRun();
    void portInUseIsReported();
    void udpDatagramsAndReplyToSender();
    void arrivalsCarryTheirPeer_data();
    void arrivalsCarryTheirPeer();

private:
    // Even, so that a port text ending in .5 has two neighbours to round to.
    const HeldTcpPort evenPort_{true};
};

void TestReceiver::portText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");
    const quint16 even = evenPort_.port();
    const QString p = QString::number(even);
    QTest::newRow("blanks around") << " " + p + "  " << int(even);
    QTest::newRow("blank inside") << p.left(2) + " " + p.mid(2) << int(even);
    QTest::newRow("even half stays") << p + ".5" << int(even);
    QTest::newRow("odd half goes up") << QString::number(even - 1) + ".5" << int(even);
    QTest::newRow("letters after") << p + "abc" << int(even);
}

void TestReceiver::portText()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    WindowFixture f;
    f.ui().txtRcvPort->setText(text);
    f.ui().cmdRcvOpen->click();
    QVERIFY(!f.ui().cmdRcvOpen->isEnabled());
    QVERIFY(f.list2().isEmpty());
    Visitor visitor{quint16(port)};
    QTRY_COMPARE(f.list2().size(), 1);
    QVERIFY(f.list2().at(0).startsWith(RequestLinePrefix()));
}

void TestReceiver::onePeerAtATimeThenListensAgainOnTheNewPort()
{
    WindowFixture f;
    const quint16 first = f.openReceiver();

    Visitor one(first);
    QTRY_COMPARE(f.list2().size(), 1);
    QTRY_COMPARE(one.socket.state(), QAbstractSocket::ConnectedState);
    Visitor two(first);
    QTRY_COMPARE(two.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(f.list2().size(), 1);

    const HeldTcpPort held;
    const quint16 second = held.port();
    f.ui().txtRcvPort->setText(QString::number(second));
    one.socket.disconnectFromHost();
    QTRY_COMPARE(f.list2().value(1), QStringLiteral("Socket2 Close."));
    Visitor three(second);
    QTRY_COMPARE(f.list2().size(), 3);
    QVERIFY(f.list2().at(2).startsWith(RequestLinePrefix()));
    three.socket.write("hi");
    QTRY_COMPARE(f.list2().value(3), QStringLiteral("RCV[6869]"));
}

void TestReceiver::arrivalsInHexAndCharacters()
{
    WindowFixture f;
    std::unique_ptr<Visitor> visitor;
    QVERIFY(Admit(f, visitor));
    visitor->socket.write("A\r\n");
    QTRY_COMPARE(f.list2().value(1), QStringLiteral("RCV[410D0A]"));
    f.ui().Option2->setChecked(true);
    visitor->socket.write("A\r\n");
    QTRY_COMPARE(f.list2().value(2), QStringLiteral("RCV[A\r\n]"));
    QCOMPARE(f.list2().value(1), QStringLiteral("RCV[410D0A]"));
}

void TestReceiver::replyIsTrimmedAndSentAsText()
{
    WindowFixture f;
    std::unique_ptr<Visitor> visitor;
    QVERIFY(Admit(f, visitor));
    visitor->socket.write("?");
    QTRY_COMPARE(f.list2().value(1), QStringLiteral("RCV[3F]"));

    f.ui().txtRCVPORTSEND->setText(QStringLiteral("    "));
    f.ui().cmdRcvPortSend->click();
    QCOMPARE(f.list2().size(), 2);

    f.ui().txtRCVPORTSEND->setText(QStringLiteral("  OK ｱ "));
    f.ui().cmdRcvPortSend->click();
    QCOMPARE(f.list2().value(2), QStringLiteral("Send Command:[OK ｱ]"));
    // Only the operator answers: nothing went back for the arrival before.
    QTRY_COMPARE(visitor->received, QByteArray("OK \xB1"));
}

void TestReceiver::replyWithoutPeerIsReported()
{
    WindowFixture f;
    f.ui().txtRCVPORTSEND->setText(QStringLiteral("hello"));
    f.ui().cmdRcvPortSend->click();
    QCOMPARE(f.list2().value(0), QStringLiteral("Send Command:[hello]"));
    QVERIFY(f.list2().value(1).startsWith(QStringLiteral("Err:")));
}

void TestReceiver::errorEventClosesForTheRun()
{
    WindowFixture f;
    const quint16 port = f.openReceiver();
    // Both connected before the receiver takes the first: the second waits its turn.
    Visitor served(port);
    Visitor waiting(port);
    QVERIFY(served.socket.waitForConnected(5000) && waiting.socket.waitForConnected(5000));
    QTRY_COMPARE(f.list2().size(), 1);

    emit f.window->Winsock2().Error(10053, QStringLiteral("The connection was aborted."));
    // Closed for the rest of the run, so the waiting peer is let go, and the record says so.
    QCOMPARE(f.list2().mid(1), (QStringList{"Error Event Occured.", "REFUSED[1]"}));
    QTRY_COMPARE(waiting.socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(f.window->Winsock2().State(), int(Winsock::sckClosed));
    QVERIFY(!f.ui().cmdRcvOpen->isEnabled());
}

// A request that is gone by the time it is accepted (here one that never waited): the request is
// shown first, then the failure, and nobody can connect any more.
void TestReceiver::failedAcceptClosesForTheRun()
{
    WindowFixture f;
    const quint16 port = f.openReceiver();
    emit f.window->Winsock2().ConnectionRequest(4242);
    QCOMPARE(f.list2(),
             (QStringList{"TCP/IP:requestID:4242",
                          "Err:10022[There is no pending connection request with that id.]"}));
    QCOMPARE(f.window->Winsock2().State(), int(Winsock::sckClosed));
    Visitor late(port);
    QTRY_COMPARE(late.socket.error(), QAbstractSocket::ConnectionRefusedError);
    QCOMPARE(f.list2().size(), 2);
}

void TestReceiver::portInUseIsReported()
{
    for (const QString& mode : {QStringLiteral(""), QStringLiteral("udp")}) {
        TcpPeer tcpHolder(QHostAddress::Any);
        QUdpSocket udpHolder;
        QVERIFY(udpHolder.bind(QHostAddress::Any, tcpHolder.port()));
        WindowFixture f(mode);
        f.ui().txtRcvPort->setText(QString::number(tcpHolder.port()));
        f.ui().cmdRcvOpen->click();
        QCOMPARE(f.list2().size(), 1);
        QVERIFY2(f.list2().at(0).startsWith(QStringLiteral("Err:10048[")),
                 qPrintable(f.list2().at(0)));
        QVERIFY(!f.ui().cmdRcvOpen->isEnabled());
    }
}

void TestReceiver::udpDatagramsAndReplyToSender()
{
    WindowFixture f(QStringLiteral("udp"));
    const quint16 port = f.openReceiver();
    UdpPeer peer;
    peer.sendTo(port, "AB");
    peer.sendTo(port, QByteArray());
    peer.sendTo(port, "\x01");
    QTRY_COMPARE(f.list2().size(), 3);
    QCOMPARE(f.list2(), (QStringList{"RCV[4142]", "RCV[]", "RCV[01]"}));
    f.ui().txtRCVPORTSEND->setText(QStringLiteral("pong"));
    f.ui().cmdRcvPortSend->click();
    QTRY_COMPARE(peer.datagrams().size(), 1);
    QCOMPARE(peer.datagrams().at(0).data(), QByteArray("pong"));
}

void TestReceiver::arrivalsCarryTheirPeer_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("TCP") << QString();
    QTest::newRow("UDP") << QStringLiteral("UDP");
}

// Each arrival is handed on with its bytes, the address and port that sent them and the socket.
void TestReceiver::arrivalsCarryTheirPeer()
{
    QFETCH(QString, mode);
    WindowFixture f(mode);
    Receiver& receiver = f.window->Rcv();
    QList<Arrival> arrivals;
    connect(&receiver, &Receiver::Arrived, this,
            [&](const Arrival& arrival) { arrivals << arrival; });
    // A listener that has gone leaves the others hearing every arrival.
    auto gone = std::make_unique<QObject>();
    connect(&receiver, &Receiver::Arrived, gone.get(), [] {});
    gone.reset();
    const quint16 port = f.openReceiver();
    QUdpSocket udpPeer;
    QTcpSocket tcpPeer;
    QAbstractSocket& peer = mode.isEmpty() ? static_cast<QAbstractSocket&>(tcpPeer) : udpPeer;
    if (mode.isEmpty()) {
        tcpPeer.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(tcpPeer.waitForConnected(5000));
        tcpPeer.write("AB");
    } else {
        QVERIFY(udpPeer.bind(QHostAddress::LocalHost, 0));
        udpPeer.writeDatagram("AB", QHostAddress::LocalHost, port);
    }

    QTRY_COMPARE(arrivals.size(), 1);
    QCOMPARE(arrivals[0].bytes, QByteArray("AB"));
    QCOMPARE(arrivals[0].peer.Address(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(arrivals[0].peer.Port(), peer.localPort());
    QCOMPARE(arrivals[0].socket, &f.window->Winsock2());
    QCOMPARE(f.list2().constLast(), QStringLiteral("RCV[4142]"));
}

QTEST_MAIN(TestReceiver)
#include "tst_receiver.moc"

// What an operator can type where a port or a host goes: the window shows what became of it and
// goes on.
#include "net/clientlink.h"
#include "net/receiver.h"
#include "support/peers.h"
#include "support/windowfixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace {

bool PortIsFree(quint16 port)
{
    QTcpServer tcp;
    QUdpSocket udp;
    return tcp.listen(QHostAddress::Any, port) && udp.bind(QHostAddress::Any, port);
}

const QString kDefaultPayload = QStringLiteral("0016WGCS22000000");

} // namespace

class TestOperatorFaults : public QObject {
    Q_OBJECT
private slots:
    void receiverPortText_data();
    void receiverPortText();
    void receiverPortTextAtReListen_data();
    void receiverPortTextAtReListen();
    void reachableHostText_data();
    void reachableHostText();
    void unusableRemote_data();
    void unusableRemote();
    void unresolvableHost_data();
    void unresolvableHost();
};

void TestOperatorFaults::receiverPortText_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");      // listening there; 0: any free port; -1: not listening
    QTest::addColumn<QString>("shown"); // the one line in List2, if any
    const QString outOfRange =
        QStringLiteral("Err:10022[The local port must be a whole number from 0 to 65535.]");
    const QString beyond32Bits =
        QStringLiteral("Err:6[The port number is outside the 32-bit integer range.]");
    for (const QString& mode : {QString(), QStringLiteral("udp")}) {
        const QString name = mode.isEmpty() ? QStringLiteral("tcp ") : QStringLiteral("udp ");
        auto row = [&](const char* label) -> QTestData& {
            return QTest::newRow(qPrintable(name + label));
        };
        row("empty") << mode << "" << 0 << QString();
        row("zero") << mode << "0" << 0 << QString();
        row("hexadecimal &HFFFF") << mode << "&HFFFF" << 65535 << QString();
        row("negative") << mode << "-1" << -1 << outOfRange;
        row("one past the last") << mode << "65536" << -1 << outOfRange;
        row("beyond 32 bits") << mode << "99999999999" << -1 << beyond32Bits;
    }
}

void TestOperatorFaults::receiverPortText()
{
    QFETCH(QString, mode);
    QFETCH(QString, text);
    QFETCH(int, port);
    QFETCH(QString, shown);
    if (port > 0 && !PortIsFree(quint16(port)))
        QSKIP("The port is taken on this machine.");
    WindowFixture f(mode);
    f.ui().txtRcvPort->setText(text);
    f.ui().cmdRcvOpen->click();
    QCOMPARE(f.list2(), shown.isEmpty() ? QStringList() : QStringList{shown});
    QVERIFY(!f.ui().cmdRcvOpen->isEnabled());
    Winsock& socket = f.window->Winsock2();
    if (port < 0) {
        QCOMPARE(socket.State(), int(Winsock::sckClosed));
        return;
    }
    const quint16 listening = quint16(socket.LocalPort());
    QVERIFY(port == 0 ? listening != 0 : listening == port);
    // Heard on that port.
    QTcpSocket visitor;
    UdpPeer sender;
    if (mode.isEmpty())
        visitor.connectToHost(QHostAddress::LocalHost, listening);
    else
        sender.sendTo(listening, "?");
    QTRY_COMPARE(f.list2().size(), 1);
    QVERIFY(f.list2().at(0).startsWith(mode.isEmpty() ? QStringLiteral("TCP/IP:requestID:")
                                                      : QStringLiteral("RCV[3F]")));
}

void TestOperatorFaults::receiverPortTextAtReListen_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shownPrefix");
    QTest::newRow("taken by another program") << QString() << "Err:10048[";
    QTest::newRow("beyond 32 bits") << "99999999999"
                                    << "Err:6[";
    QTest::newRow("negative") << "-1"
                              << "Err:10022[";
}

// The peer leaves after the operator typed a port that cannot be used: the receiver says why and
// stays closed.
void TestOperatorFaults::receiverPortTextAtReListen()
{
    QFETCH(QString, text);
    QFETCH(QString, shownPrefix);
    TcpPeer holder(QHostAddress::Any);
    WindowFixture f;
    const quint16 port = f.openReceiver();
    QTcpSocket visitor;
    visitor.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE(f.list2().size(), 1);
    f.ui().txtRcvPort->setText(text.isEmpty() ? QString::number(holder.port()) : text);
    visitor.disconnectFromHost();
    QTRY_COMPARE(f.list2().size(), 3);
    QCOMPARE(f.list2().at(1), QStringLiteral("Socket2 Close."));
    QVERIFY2(f.list2().at(2).startsWith(shownPrefix), qPrintable(f.list2().at(2)));
    QCOMPARE(f.window->Winsock2().State(), int(Winsock::sckClosed));
}

void TestOperatorFaults::reachableHostText_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QHostAddress>("peerAddress");
    const QHostAddress v4(QHostAddress::LocalHost);
    const QHostAddress v6(QHostAddress::LocalHostIPv6);
    QTest::newRow("tcp ::1") << QString() << "::1" << v6;
    QTest::newRow("udp ::1") << "udp"
                             << "::1" << v6;
    QTest::newRow("udp blanks around localhost") << "udp"
                                                 << " localhost " << v4;
}

void TestOperatorFaults::reachableHostText()
{
    QFETCH(QString, mode);
    QFETCH(QString, host);
    QFETCH(QHostAddress, peerAddress);
    if (peerAddress.protocol() == QAbstractSocket::IPv6Protocol &&
        !QTcpServer().listen(peerAddress))
        QSKIP("This machine has no IPv6 loopback.");
    const bool udp = !mode.isEmpty();
    TcpPeer tcpPeer(peerAddress);
    UdpPeer udpPeer(peerAddress);
    WindowFixture f(mode);
    ClientLink& client = f.window->Client();
    const quint16 port = udp ? udpPeer.port() : tcpPeer.port();
    f.ui().txtIP->setText(host);
    f.ui().txtPortNo->setText(QString::number(port));
    client.cmdOneShot_Click();
    f.ticks(5);
    QCOMPARE(f.list1().value(0),
             QStringLiteral("Start Connect:IP:%1 Port#:%2: ").arg(host.trimmed()).arg(port));
    QTRY_COMPARE(client.Variables().Connected, 1);
    client.cmdOneShot_Click();
    if (udp) {
        QTRY_COMPARE(udpPeer.datagrams().size(), 1);
        QCOMPARE(udpPeer.datagrams().at(0).data(), kDefaultPayload.toLatin1());
    } else {
        QTRY_COMPARE(tcpPeer.received(), kDefaultPayload.toLatin1());
    }
    QTRY_COMPARE(f.list1().constLast(), QStringLiteral("Sended."));
}

void TestOperatorFaults::unusableRemote_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("shownPort");
    QTest::addColumn<QString>("cause");
    const QString badPort =
        QStringLiteral("The remote port must be a whole number from 1 to 65535.");
    const QString noHost = QStringLiteral("The remote host name is empty.");
    const QString beyond32Bits =
        QStringLiteral("The port number is outside the 32-bit integer range.");
    const QString ip = QStringLiteral("127.0.0.1");
    for (const QString& mode : {QString(), QStringLiteral("udp")}) {
        const QString name = mode.isEmpty() ? QStringLiteral("tcp ") : QStringLiteral("udp ");
        auto row = [&](const char* label, const QString& host, const QString& port,
                       const QString& shownPort, const QString& cause) {
            QTest::newRow(qPrintable(name + label)) << mode << host << port << shownPort << cause;
        };
        row("port 0", ip, "0", "0", badPort);
        row("port -5", ip, "-5", "-5", badPort);
        row("port 70000 between blanks", ip, " 70000  ", "70000", badPort);
        row("port abc", ip, "abc", "abc", badPort);
        row("port empty", ip, "", "", badPort);
        row("port beyond 32 bits", ip, "99999999999", "99999999999", beyond32Bits);
        row("blank host", "   ", "50000", "50000", noHost);
    }
}

// Refused at the connect step, in the same words in both modes; the link stays down.
void TestOperatorFaults::unusableRemote()
{
    QFETCH(QString, mode);
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, shownPort);
    QFETCH(QString, cause);
    WindowFixture f(mode);
    f.ui().txtIP->setText(host);
    f.ui().txtPortNo->setText(port);
    f.ui().cmdOneShot->click();
    f.ticks(5);
    const QString remote = QStringLiteral("IP:") + host.trimmed() + QStringLiteral(" Port#:") +
                           shownPort + QStringLiteral(": ");
    QCOMPARE(f.list1(), (QStringList{"Start Connect:" + remote, "Connect Err:" + remote + cause}));
    QCOMPARE(f.window->Client().Variables().Connected, 0);
    f.ui().cmdOneShot->click();
    QCOMPARE(f.list1().size(), 2);
}

void TestOperatorFaults::unresolvableHost_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("tcp") << QString();
    QTest::newRow("udp") << QStringLiteral("udp");
}

// A name in the reserved domain: the lookup fails at once, and the link tries again later.
void TestOperatorFaults::unresolvableHost()
{
    QFETCH(QString, mode);
    WindowFixture f(mode);
    ClientLink& client = f.window->Client();
    const QString start = QStringLiteral("Start Connect:IP:no-such-host.invalid Port#:50000: ");
    f.ui().txtIP->setText(QStringLiteral("no-such-host.invalid"));
    client.cmdOneShot_Click();
    f.ticks(5);
    QCOMPARE(f.list1(), QStringList{start});
    if (mode.isEmpty()) {
        QTRY_COMPARE(f.list1().value(1), QStringLiteral("Error Event Occured."));
    } else {
        // The link counts as up until the first send finds the host missing.
        QCOMPARE(client.Variables().Connected, 1);
        client.cmdOneShot_Click();
        QTRY_COMPARE(f.list1().value(2), QStringLiteral("Error Event Occured."));
    }
    QCOMPARE(client.Variables().Connected, 0);
    f.ticks(5);
    QCOMPARE(f.list1().constLast(), start);
    QVERIFY(f.ui().cmdOneShot->isEnabled());
}

QTEST_MAIN(TestOperatorFaults)
#include "tst_operatorfaults.moc"

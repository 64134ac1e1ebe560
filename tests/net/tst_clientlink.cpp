// The client half of the window against real loopback peers; timer handlers are called directly.
#include "net/clientlink.h"
#include "support/peers.h"
#include "support/windowfixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <limits>

namespace {

const QString kDefaultPayloadHex = QStringLiteral("30303136574743533232303030303030");

void Ticks(ClientLink& client, int count)
{
    for (int i = 0; i < count; ++i)
        client.tmrCONNECT_Timer();
}

QString StartLine(const QString& host, quint16 port)
{
    return QStringLiteral("Start Connect:IP:%1 Port#:%2: ").arg(host).arg(port);
}

} // namespace

class TestClientLink : public QObject {
    Q_OBJECT
private slots:
    void tcpConnectsOnFifthTickThenSendsAndShowsAnswers();
    void sentLineInCharacters();
    void refusedConnectionRetriesEveryFifthTick();
    void peerCloseReopensAndReleasesAWaitingPress();
    void udpSetsUpWithoutConnectingAndGetsAnswers();
    void counterWrapsAfter9999();
    void portBeyond32BitsIsReported();
    void continuousInterval_data();
    void continuousInterval();
    void ticksCarryOverAcrossStopAndStart();
    void busySendButtonSkipsATurn();
};

void TestClientLink::tcpConnectsOnFifthTickThenSendsAndShowsAnswers()
{
    TcpPeer peer;
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.window->txtIP->setText(QStringLiteral("  localhost "));
    f.window->txtPortNo->setText(QString::number(peer.port()));

    client.cmdOneShot_Click();
    QVERIFY(f.list1().isEmpty());
    Ticks(client, 4);
    QVERIFY(f.list1().isEmpty());
    Ticks(client, 1);
    QCOMPARE(f.list1(), QStringList{StartLine("localhost", peer.port())});
    QTRY_COMPARE(f.list1().value(1), QStringLiteral("Connected."));
    QCOMPARE(client.Connected, 1);

    client.cmdOneShot_Click();
    QTRY_COMPARE(peer.received(), QByteArray("0016WGCS22000000"));
    QCOMPARE(f.list1().value(2), "SND[" + kDefaultPayloadHex + "]");
    QTRY_COMPARE(f.list1().value(3), QStringLiteral("Sended."));
    QCOMPARE(f.window->lblCount->text(), QStringLiteral("1"));

    peer.send("AB\r\n");
    QTRY_COMPARE(f.list1().value(4), QStringLiteral("RCV[41420D0A]"));
    f.window->Option2->setChecked(true);
    peer.send("xy");
    QTRY_COMPARE(f.list1().value(5), QStringLiteral("RCV[xy]"));
    QCOMPARE(f.list1().size(), 6);
}

void TestClientLink::sentLineInCharacters()
{
    TcpPeer peer;
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.window->txtPortNo->setText(QString::number(peer.port()));
    f.window->Option2->setChecked(true);
    f.window->Text1->setText(QStringLiteral("414243"));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    QTRY_COMPARE(client.Connected, 1);
    client.cmdOneShot_Click();
    QCOMPARE(f.list1().value(2), QStringLiteral("SND[ABC]"));
    QTRY_COMPARE(peer.received(), QByteArray("ABC"));
}

void TestClientLink::refusedConnectionRetriesEveryFifthTick()
{
    const quint16 port = FreePort();
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.window->txtIP->setText(QStringLiteral("127.0.0.1"));
    f.window->txtPortNo->setText(QString::number(port));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    QTRY_COMPARE(f.list1().value(1), QStringLiteral("Error Event Occured."));
    Ticks(client, 5);
    QCOMPARE(f.list1().value(2), StartLine("127.0.0.1", port));
    QTRY_COMPARE(f.list1().value(3), QStringLiteral("Error Event Occured."));
    QCOMPARE(client.Connected, 0);
}

void TestClientLink::peerCloseReopensAndReleasesAWaitingPress()
{
    TcpPeer peer;
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.window->txtPortNo->setText(QString::number(peer.port()));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    QTRY_COMPARE(client.Connected, 1);
    QTRY_COMPARE(peer.connectionCount(), 1);

    // A completion that never comes: the press waits until the peer leaves, then fails to send.
    client.SendDone = 0;
    QTimer::singleShot(50, &peer, [&peer] { peer.closeConnection(); });
    client.cmdOneShot_Click();
    const QStringList lines = f.list1();
    QCOMPARE(lines.mid(2, 2), (QStringList{"Socket Close.", "SND[" + kDefaultPayloadHex + "]"}));
    QVERIFY(lines.value(4).startsWith(QStringLiteral("Send Err: ")));
    QCOMPARE(f.window->lblCount->text(), QString());
    QVERIFY(f.window->cmdOneShot->isEnabled());
    QCOMPARE(client.Connected, 0);

    Ticks(client, 5);
    QCOMPARE(f.list1().value(5), StartLine("localhost", peer.port()));
    QTRY_COMPARE(f.list1().value(6), QStringLiteral("Connected."));
}

void TestClientLink::udpSetsUpWithoutConnectingAndGetsAnswers()
{
    UdpPeer peer;
    WindowFixture f(QStringLiteral("udp"));
    ClientLink& client = f.window->Client();
    f.window->txtIP->setText(QStringLiteral("127.0.0.1"));
    f.window->txtPortNo->setText(QString::number(peer.port()) + QStringLiteral(".4"));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    QCOMPARE(client.Connected, 1);
    client.cmdOneShot_Click();
    QTRY_COMPARE(peer.datagrams().size(), 1);
    QCOMPARE(peer.datagrams().at(0).data(), QByteArray("0016WGCS22000000"));
    peer.replyToLatest("OK");
    QTRY_COMPARE(f.list1().size(), 4);
    const QString start =
        QStringLiteral("Start Connect:IP:127.0.0.1 Port#:%1.4: ").arg(peer.port());
    QCOMPARE(f.list1(),
             (QStringList{start, "SND[" + kDefaultPayloadHex + "]", "Sended.", "RCV[4F4B]"}));
    Ticks(client, 10);
    QCOMPARE(f.list1().size(), 4);
}

void TestClientLink::counterWrapsAfter9999()
{
    UdpPeer peer;
    WindowFixture f(QStringLiteral("UDP"));
    ClientLink& client = f.window->Client();
    f.window->txtIP->setText(QStringLiteral("127.0.0.1"));
    f.window->txtPortNo->setText(QString::number(peer.port()));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    client.SendCount = 9998;
    client.cmdOneShot_Click();
    QCOMPARE(f.window->lblCount->text(), QStringLiteral("9999"));
    client.cmdOneShot_Click();
    QCOMPARE(f.window->lblCount->text(), QStringLiteral("0"));
    QTRY_COMPARE(peer.datagrams().size(), 2);
}

void TestClientLink::portBeyond32BitsIsReported()
{
    for (const QString& mode : {QStringLiteral(""), QStringLiteral("udp")}) {
        WindowFixture f(mode);
        ClientLink& client = f.window->Client();
        f.window->txtPortNo->setText(QStringLiteral("99999999999"));
        client.cmdOneShot_Click();
        Ticks(client, 5);
        const QString line = f.list1().value(1);
        QVERIFY2(line.startsWith("Connect Err:IP:localhost Port#:99999999999: "), qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral("32-bit")), qPrintable(line));
        QCOMPARE(client.Connected, 0);
    }
}

void TestClientLink::continuousInterval_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("interval");
    QTest::newRow("five") << "5" << 5;
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("letters") << "abc" << 1;
    QTest::newRow("negative") << "-3" << 1;
    QTest::newRow("2.5 to even") << "2.5" << 2;
    QTest::newRow("3.5 to even") << "3.5" << 4;
    QTest::newRow("beyond 32 bits") << "99999999999" << std::numeric_limits<int>::max();
}

void TestClientLink::continuousInterval()
{
    QFETCH(QString, text);
    QFETCH(int, interval);
    WindowFixture f;
    frmUDP& w = *f.window;
    w.txtContTime->setText(text);
    w.Client().cmdCont_Click();
    QCOMPARE(w.Client().ContInterval, interval);
    QVERIFY(w.Timer1->isActive());
    QVERIFY(!w.cmdCont->isEnabled() && w.cmdStopCont->isEnabled() && !w.cmdEnd->isEnabled());
    w.Client().cmdStopCont_Click();
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(w.cmdCont->isEnabled() && !w.cmdStopCont->isEnabled() && w.cmdEnd->isEnabled());
}

void TestClientLink::ticksCarryOverAcrossStopAndStart()
{
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.window->txtContTime->setText(QStringLiteral("10"));
    client.cmdCont_Click();
    for (int i = 0; i < 3; ++i)
        client.Timer1_Timer();
    client.cmdStopCont_Click();
    f.window->txtContTime->setText(QStringLiteral("2"));
    client.cmdCont_Click();
    QCOMPARE(client.SendStarted, 0);
    client.Timer1_Timer();
    QCOMPARE(client.SendStarted, 1); // the press ran on the first tick after the restart
    QCOMPARE(client.ContTicks, 0);
}

void TestClientLink::busySendButtonSkipsATurn()
{
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.window->txtContTime->setText(QStringLiteral("1"));
    client.cmdCont_Click();
    f.window->cmdOneShot->setEnabled(false);
    client.Timer1_Timer();
    QCOMPARE(client.SendStarted, 0);
    QCOMPARE(client.ContTicks, 0);
    f.window->cmdOneShot->setEnabled(true);
    client.Timer1_Timer();
    QCOMPARE(client.SendStarted, 1);
}

QTEST_MAIN(TestClientLink)
#include "tst_clientlink.moc"

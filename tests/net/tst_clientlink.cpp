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
#include <functional>
#include <limits>
#include <memory>
#include <vector>

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

// A UDP peer on an even port, so that a port text ending in .5 has two neighbours to round to.
// Peers on odd ports stay bound until then, so the system does not offer those again.
std::unique_ptr<UdpPeer> EvenUdpPeer()
{
    std::vector<std::unique_ptr<UdpPeer>> odd;
    for (;;) {
        auto peer = std::make_unique<UdpPeer>();
        if (peer->port() % 2 == 0)
            return peer;
        odd.push_back(std::move(peer));
    }
}

} // namespace

class TestClientLink : public QObject {
    Q_OBJECT
private slots:
    void tcpConnectsOnFifthTickThenSendsAndShowsAnswers();
    void pressWaitsForTheFrameBeforeToComplete();
    void payloadAsTypedAsCharactersAndAsText();
    void refusedConnectionRetriesEveryFifthTick();
    void peerCloseReopensAndReleasesAWaitingPress();
    void errorOnTheLinkReleasesAWaitingPressAndReopens();
    void udpSetsUpWithoutConnectingAndGetsAnswers_data();
    void udpSetsUpWithoutConnectingAndGetsAnswers();
    void counterWrapsAfter9999();
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
    f.ui().txtIP->setText(QStringLiteral("  localhost "));
    f.ui().txtPortNo->setText(QString::number(peer.port()));

    Ticks(client, 7); // before the first press the supervision does not even count
    f.ui().cmdOneShot->click();
    QVERIFY(f.list1().isEmpty());
    Ticks(client, 4);
    QVERIFY(f.list1().isEmpty());
    Ticks(client, 1);
    QCOMPARE(f.list1(), QStringList{StartLine("localhost", peer.port())});
    QTRY_COMPARE(f.list1().value(1), QStringLiteral("Connected."));
    QCOMPARE(client.Variables().Connected, 1);

    f.ui().cmdOneShot->click();
    QTRY_COMPARE(peer.received(), QByteArray("0016WGCS22000000"));
    QCOMPARE(f.list1().value(2), "SND[" + kDefaultPayloadHex + "]");
    QTRY_COMPARE(f.list1().value(3), QStringLiteral("Sended."));
    QCOMPARE(f.ui().lblCount->text(), QStringLiteral("1"));

    peer.send("AB\r\n");
    QTRY_COMPARE(f.list1().value(4), QStringLiteral("RCV[41420D0A]"));
    f.ui().Option2->setChecked(true);
    peer.send("xy");
    QTRY_COMPARE(f.list1().value(5), QStringLiteral("RCV[xy]"));
    QCOMPARE(f.list1().size(), 6);

    // Answers are only shown: the next thing the peer gets is the operator's next frame.
    f.ui().cmdOneShot->click();
    QTRY_COMPARE(peer.received(), QByteArray("0016WGCS22000000").repeated(2));
}

// The second press comes while the first frame's completion is still owed. What the press shows
// at the moment the completion arrives: the button off, and an edited payload is what goes out.
void TestClientLink::pressWaitsForTheFrameBeforeToComplete()
{
    TcpPeer peer;
    WindowFixture f;
    frmUDP& w = *f.window;
    const WindowControls ui(w);
    QVERIFY(f.connectClient(peer.port()));
    bool enabledWhileWaiting = true;
    int completions = 0;
    // Heard after the link's own handler, which shows "Sended." as the completion arrives.
    connect(&w.Client().Socket(), &Winsock::SendComplete, this, [&] {
        if (++completions > 1)
            return;
        enabledWhileWaiting = ui.cmdOneShot->isEnabled();
        ui.Text1->setText(QStringLiteral("4344"));
    });
    ui.Text1->setText(QStringLiteral("4142"));
    ui.cmdOneShot->click();
    ui.cmdOneShot->click();
    QCOMPARE(f.list1().mid(2), (QStringList{"SND[4142]", "Sended.", "SND[4344]"}));
    QVERIFY(!enabledWhileWaiting);
    QVERIFY(ui.cmdOneShot->isEnabled());
    QTRY_COMPARE(peer.received(), QByteArray("ABCD"));
}

// Too short a payload is no frame; a longer one is shown as typed, or as characters; a plain text
// goes out as its code-page bytes.
void TestClientLink::payloadAsTypedAsCharactersAndAsText()
{
    TcpPeer peer;
    WindowFixture f;
    frmUDP& w = *f.window;
    const WindowControls ui(w);
    ClientLink& client = w.Client();
    QVERIFY(f.connectClient(peer.port()));
    for (const QString& tooShort : {QString(), QStringLiteral("F")}) {
        ui.Text1->setText(tooShort);
        ui.cmdOneShot->click();
        QCOMPARE(client.Variables().SendDone, 1);
    }
    QCOMPARE(f.list1().size(), 2);

    auto sendAndComplete = [&](const std::function<void()>& send) {
        const int before = f.list1().size();
        send();
        return QTest::qWaitFor([&] { return f.list1().value(before + 1) == "Sended."; });
    };
    ui.Text1->setText(QStringLiteral("01 0a 03"));
    QVERIFY(sendAndComplete([&] { ui.cmdOneShot->click(); }));
    ui.Option2->setChecked(true);
    ui.Text1->setText(QStringLiteral("414243"));
    QVERIFY(sendAndComplete([&] { ui.cmdOneShot->click(); }));
    ui.Option1->setChecked(true);
    const QString text = QStringLiteral("A") + QChar(0x1A) + QChar(0xF8F0) + QStringLiteral("ｱ");
    // A plain text goes out on the socket it is given.
    SideSocket side;
    w.DoSendEther(side.socket, text);

    QCOMPARE(f.list1().filter(QStringLiteral("SND[")),
             (QStringList{"SND[01 0a 03]", "SND[ABC]", "SND[411AA0B1]"}));
    QTRY_COMPARE(peer.received(), QByteArray("\x01\x00\x0A\x03"
                                             "ABC",
                                             7));
    QTRY_VERIFY(side.sink.hasPendingDatagrams());
    QCOMPARE(side.sink.receiveDatagram().data(), QByteArray("A\x1A\xA0\xB1"));
}

void TestClientLink::refusedConnectionRetriesEveryFifthTick()
{
    const HeldTcpPort refusing;
    const quint16 port = refusing.port();
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.ui().txtIP->setText(QStringLiteral("127.0.0.1"));
    f.ui().txtPortNo->setText(QString::number(port));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    QTRY_COMPARE(f.list1().value(1), QStringLiteral("Error Event Occured."));
    Ticks(client, 5);
    QCOMPARE(f.list1().value(2), StartLine("127.0.0.1", port));
    QTRY_COMPARE(f.list1().value(3), QStringLiteral("Error Event Occured."));
    QCOMPARE(client.Variables().Connected, 0);
}

void TestClientLink::peerCloseReopensAndReleasesAWaitingPress()
{
    TcpPeer peer;
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.ui().txtPortNo->setText(QString::number(peer.port()));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    QTRY_COMPARE(client.Variables().Connected, 1);
    QTRY_COMPARE(peer.connectionCount(), 1);

    // A completion that never comes: the press waits until the peer leaves, then fails to send.
    SideSocket side;
    f.window->DoSendEtherHex(side.socket, QStringLiteral("41"));
    QTimer::singleShot(50, &peer, [&peer] { peer.closeConnection(); });
    client.cmdOneShot_Click();
    const QStringList lines = f.list1();
    QCOMPARE(lines.mid(2, 3),
             (QStringList{"SND[41]", "Socket Close.", "SND[" + kDefaultPayloadHex + "]"}));
    QVERIFY(lines.value(5).startsWith(QStringLiteral("Send Err: ")));
    QCOMPARE(f.ui().lblCount->text(), QStringLiteral("1")); // the frame on the side socket
    QVERIFY(f.ui().cmdOneShot->isEnabled());
    QCOMPARE(client.Variables().Connected, 0);

    Ticks(client, 5);
    QCOMPARE(f.list1().value(6), StartLine("localhost", peer.port()));
    QTRY_COMPARE(f.list1().value(7), QStringLiteral("Connected."));
}

// The link reports an error while a frame's completion is owed: the waiting press goes on (and
// finds the link closed), and the next check reopens it.
void TestClientLink::errorOnTheLinkReleasesAWaitingPressAndReopens()
{
    TcpPeer peer;
    WindowFixture f;
    frmUDP& w = *f.window;
    const WindowControls ui(w);
    ClientLink& client = w.Client();
    QVERIFY(f.connectClient(peer.port()));
    ui.Text1->setText(QStringLiteral("41"));
    ui.cmdOneShot->click();
    // Queued now, so it is delivered before the completion, which is queued only once the
    // bytes have left.
    QMetaObject::invokeMethod(&client, &ClientLink::Winsock1_Error, Qt::QueuedConnection);
    bool stuck = false;
    // Only so that a press that stays stuck fails instead of hanging: the link is closed by now,
    // so nothing but a completion handed in by hand can end the wait.
    QTimer rescue;
    rescue.setSingleShot(true);
    connect(&rescue, &QTimer::timeout, this, [&] {
        stuck = true;
        client.Winsock1_SendComplete();
    });
    rescue.start(5000);
    ui.cmdOneShot->click();
    QVERIFY(!stuck);
    const QStringList lines = f.list1();
    QCOMPARE(lines.mid(2, 3), (QStringList{"SND[41]", "Error Event Occured.", "SND[41]"}));
    QVERIFY2(lines.value(5).startsWith(QStringLiteral("Send Err: ")), qPrintable(lines.value(5)));
    QCOMPARE(lines.size(), 6);
    QCOMPARE(client.Variables().Connected, 0);
    QVERIFY(ui.cmdOneShot->isEnabled());

    Ticks(client, 5);
    QCOMPARE(f.list1().value(6), StartLine("127.0.0.1", peer.port()));
    QTRY_COMPARE(f.list1().value(7), QStringLiteral("Connected."));
}

void TestClientLink::udpSetsUpWithoutConnectingAndGetsAnswers_data()
{
    QTest::addColumn<int>("below"); // the port text is the even port less this, and a half
    QTest::newRow("odd and a half goes up") << 1;
    QTest::newRow("even and a half stays") << 0;
}

void TestClientLink::udpSetsUpWithoutConnectingAndGetsAnswers()
{
    QFETCH(int, below);
    WindowFixture f(QStringLiteral("udp"));
    frmUDP& w = *f.window;
    const WindowControls ui(w);
    ClientLink& client = w.Client();
    const std::unique_ptr<UdpPeer> peer = EvenUdpPeer();
    const quint16 port = peer->port();
    const QString portText = QString::number(port - below) + QStringLiteral(".5");
    ui.txtIP->setText(QStringLiteral("127.0.0.1"));
    ui.txtPortNo->setText(portText);
    ui.cmdOneShot->click();
    Ticks(client, 5);
    QCOMPARE(client.Variables().Connected, 1);
    ui.cmdOneShot->click();
    QTRY_COMPARE(peer->datagrams().size(), 1);
    QCOMPARE(peer->datagrams().at(0).data(), QByteArray::fromHex(kDefaultPayloadHex.toLatin1()));
    peer->replyToLatest("OK");
    QTRY_COMPARE(f.list1().size(), 4);
    const QString start = QStringLiteral("Start Connect:IP:127.0.0.1 Port#:%1: ").arg(portText);
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
    f.ui().txtIP->setText(QStringLiteral("127.0.0.1"));
    f.ui().txtPortNo->setText(QString::number(peer.port()));
    client.cmdOneShot_Click();
    Ticks(client, 5);
    SideSocket side;
    for (int i = 0; i < 9998; ++i)
        f.window->DoSendEtherHex(side.socket, QStringLiteral("41"));
    client.cmdOneShot_Click();
    QCOMPARE(f.ui().lblCount->text(), QStringLiteral("9999"));
    client.cmdOneShot_Click();
    QCOMPARE(f.ui().lblCount->text(), QStringLiteral("0"));
    QTRY_COMPARE(peer.datagrams().size(), 2);
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
    const WindowControls ui(w);
    ui.txtContTime->setText(text);
    w.Client().cmdCont_Click();
    QCOMPARE(w.Client().Variables().ContInterval, interval);
    QVERIFY(ui.Timer1->isActive());
    QVERIFY(!ui.cmdCont->isEnabled() && ui.cmdStopCont->isEnabled() && !ui.cmdEnd->isEnabled());
    w.Client().cmdStopCont_Click();
    QVERIFY(!ui.Timer1->isActive());
    QVERIFY(ui.cmdCont->isEnabled() && !ui.cmdStopCont->isEnabled() && ui.cmdEnd->isEnabled());
}

void TestClientLink::ticksCarryOverAcrossStopAndStart()
{
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.ui().txtContTime->setText(QStringLiteral("10"));
    client.cmdCont_Click();
    for (int i = 0; i < 3; ++i)
        client.Timer1_Timer();
    client.cmdStopCont_Click();
    f.ui().txtContTime->setText(QStringLiteral("2"));
    client.cmdCont_Click();
    QCOMPARE(client.Variables().SendStarted, 0);
    client.Timer1_Timer();
    QCOMPARE(client.Variables().SendStarted,
             1); // the press ran on the first tick after the restart
    QCOMPARE(client.Variables().ContTicks, 0);
}

void TestClientLink::busySendButtonSkipsATurn()
{
    WindowFixture f;
    ClientLink& client = f.window->Client();
    f.ui().txtContTime->setText(QStringLiteral("1"));
    client.cmdCont_Click();
    f.ui().cmdOneShot->setEnabled(false);
    client.Timer1_Timer();
    QCOMPARE(client.Variables().SendStarted, 0);
    QCOMPARE(client.Variables().ContTicks, 0);
    f.ui().cmdOneShot->setEnabled(true);
    client.Timer1_Timer();
    QCOMPARE(client.Variables().SendStarted, 1);
}

QTEST_MAIN(TestClientLink)
#include "tst_clientlink.moc"

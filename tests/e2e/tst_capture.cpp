// Sessions driven through the window, read back from the capture: what went over each socket,
// with its real addresses, in order, as TCP flows whose numbers follow on.
#include "log/clock.h"
#include "support/capturereader.h"
#include "support/peers.h"
#include "support/processports.h"
#include "support/programrun.h"
#include "support/windowfixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <sys/socket.h>

namespace {

// The capture is on for as long as it lives.
class CaptureOn {
public:
    CaptureOn() { qputenv("PEERTEST_CAPTURE", dir_.filePath("capture").toLocal8Bit()); }
    ~CaptureOn() { qunsetenv("PEERTEST_CAPTURE"); }
    QList<CapturedPacket> packets(const QDate& day) const
    {
        return ReadCapture(dir_.filePath("capture/" + day.toString("dd") + ".pcap"));
    }

private:
    QTemporaryDir dir_;
};

constexpr quint8 kFin = 0x01, kSyn = 0x02, kRst = 0x04, kAck = 0x10, kPsh = 0x08;

// The flags of each packet, and the bytes each way, after checking that every packet belongs to
// the one connection and its numbers follow on: each side's sequence number is where its last
// packet ended, and every acknowledgement names what the other side has sent so far.
struct Flow {
    QList<int> flags;
    QByteArray fromOpener;
    QByteArray toOpener;
};

Flow FollowFlow(const QList<CapturedPacket>& packets)
{
    Flow flow;
    const CapturedPacket& syn = packets.value(0);
    quint32 next[2] = {syn.sequence, 0};
    for (const CapturedPacket& packet : packets) {
        const bool fromOpener = packet.source == syn.source && packet.sourcePort == syn.sourcePort;
        const bool toOpener =
            packet.destination == syn.source && packet.destinationPort == syn.sourcePort;
        if (!packet.tcp || fromOpener == toOpener || !packet.transportChecksumOk ||
            !packet.ipChecksumOk)
            return {{-1}, {}, {}};
        const int side = fromOpener ? 0 : 1;
        if (packet.flags == (kSyn | kAck))
            next[1] = packet.sequence;
        if (packet.sequence != next[side] ||
            ((packet.flags & kAck) && packet.acknowledgement != next[1 - side]))
            return {{-2}, {}, {}};
        next[side] += quint32(packet.payload.size()) + ((packet.flags & (kSyn | kFin)) ? 1 : 0);
        flow.flags << packet.flags;
        (fromOpener ? flow.fromOpener : flow.toOpener) += packet.payload;
    }
    return flow;
}

const QList<int> kHandshake{kSyn, kSyn | kAck, kAck};

QStringList Items(const ActivityList* list)
{
    QStringList items;
    for (int row = 0; row < list->count(); ++row)
        items << list->text(row);
    return items;
}

// A UDP receiver gets a few datagrams and answers the last; what the window and the log show.
QStringList UdpReceiverSession(WindowFixture& f)
{
    f.window->show();
    const quint16 port = f.openReceiver();
    QUdpSocket peer;
    peer.bind(QHostAddress::LocalHost, 0);
    for (const QByteArray& bytes : {QByteArray("hi"), QByteArray("A\r\n")})
        peer.writeDatagram(bytes, QHostAddress::LocalHost, port);
    if (!QTest::qWaitFor([&] { return f.list2().size() == 2; }, 5000))
        return {};
    f.ui().txtRCVPORTSEND->setText(QStringLiteral("pong"));
    f.ui().cmdRcvPortSend->click();
    if (!QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }, 5000))
        return {};
    return Items(f.ui().List1) + Items(f.ui().List2);
}

} // namespace

class TestCapture : public QObject {
    Q_OBJECT
private slots:
    void peerResetIsCapturedAsReset();
    void udpArrivalsAsTheyCame_data();
    void udpArrivalsAsTheyCame();
    void tcpSessionInEachHalf_data();
    void tcpSessionInEachHalf();
    void windowAndLogSameWithCaptureOnOrOff();
    void copiesAndACrashLeaveEveryPacketReadable();
};

namespace {

// The program headless, its UDP receiver on a port of its own, capturing into `folder`.
struct CapturingCopy {
    explicit CapturingCopy(const QString& folder)
    {
        QUdpSocket chooser;
        chooser.bind(QHostAddress::LocalHost, 0);
        port = chooser.localPort();
        chooser.close();
        run.setEnvironment(QStringLiteral("PEERTEST_CAPTURE"), folder);
        run.setEnvironment(QStringLiteral("PEERTEST_RECEIVER_PORT"), QString::number(port));
        run.process().setProcessChannelMode(QProcess::SeparateChannels);
    }
    bool start()
    {
        return run.start({QStringLiteral("udp")}) && run.waitUntilLoaded() &&
               QTest::qWaitFor([&] { return HoldsUdpPort(run.process().processId(), port); },
                               10000);
    }
    ProgramRun run;
    quint16 port = 0;
};

} // namespace

// Two copies capture into one day file at once, each packet whole; then a crash tears the last
// packet, and the next copy cuts it off (and says so) before it appends: a capture reader reads
// every packet to the end.
void TestCapture::copiesAndACrashLeaveEveryPacketReadable()
{
    constexpr int kEach = 2000;
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("capture"));
    const QString day = folder + "/" + QDate::currentDate().toString("dd") + ".pcap";
    {
        CapturingCopy first(folder);
        CapturingCopy second(folder);
        QVERIFY(first.start() && second.start());
        QUdpSocket peer;
        for (int i = 0; i < kEach; ++i) {
            for (CapturingCopy* copy : {&first, &second})
                peer.writeDatagram(QByteArray::number(i), QHostAddress::LocalHost, copy->port);
        }
        QVERIFY(first.run.stop() && second.run.stop());
    }
    QString error;
    QCOMPARE(ReadCapture(day, &error).size(), 2 * kEach);
    QVERIFY2(error.isEmpty(), qPrintable(error));

    QFile file(day);
    QVERIFY(file.resize(file.size() - 3));
    CapturingCopy after(folder);
    QVERIFY(after.start());
    QUdpSocket().writeDatagram("after", QHostAddress::LocalHost, after.port);
    QTRY_VERIFY(after.run.dayFileLines().constLast().endsWith(QStringLiteral("RCV[6166746572]")));
    QVERIFY(after.run.stop());

    const QList<CapturedPacket> packets = ReadCapture(day, &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(packets.size(), 2 * kEach);
    QCOMPARE(packets.constLast().payload, QByteArray("after"));
    const QString told = QString::fromLocal8Bit(after.run.process().readAllStandardError());
    QVERIFY2(
        told.contains(QRegularExpression(" Capture Err: \\d+ bytes of a torn packet removed ")),
        qPrintable(told));
}

void TestCapture::udpArrivalsAsTheyCame_data()
{
    QTest::addColumn<QHostAddress>("peerAddress");
    QTest::newRow("IPv4") << QHostAddress(QHostAddress::LocalHost);
    QTest::newRow("IPv6") << QHostAddress(QHostAddress::LocalHostIPv6);
}

void TestCapture::udpArrivalsAsTheyCame()
{
    QFETCH(QHostAddress, peerAddress);
    CaptureOn capture;
    // The system's clock, so packet stamps and line stamps can be compared.
    WindowFixture f(QStringLiteral("UDP"), [](LogSandbox& sandbox) { sandbox.useSystemClock(); });
    f.window->show();
    const quint16 port = f.openReceiver();
    QUdpSocket peer;
    QVERIFY(peer.bind(peerAddress, 0));
    // The largest a datagram can be: its packet is longer than 65535 bytes over IPv6.
    const int largest = peerAddress.protocol() == QAbstractSocket::IPv4Protocol ? 65507 : 65527;
    const QByteArrayList sent{"", "a", "bc", QByteArray(largest, 'z')};
    for (const QByteArray& bytes : sent)
        peer.writeDatagram(bytes, peerAddress, port);
    QTRY_COMPARE(f.list2().size(), sent.size());
    f.ui().txtRCVPORTSEND->setText(QStringLiteral("ok"));
    f.ui().cmdRcvPortSend->click();
    QTRY_VERIFY(peer.hasPendingDatagrams());

    const QList<CapturedPacket> packets = capture.packets(QDate::currentDate());
    QCOMPARE(packets.size(), sent.size() + 1);
    for (int i = 0; i < packets.size(); ++i) {
        const CapturedPacket& packet = packets.at(i);
        const bool reply = i == sent.size();
        QVERIFY(!packet.tcp && packet.ipChecksumOk && packet.transportChecksumOk);
        QCOMPARE(packet.ipVersion, peerAddress.protocol() == QAbstractSocket::IPv4Protocol ? 4 : 6);
        QCOMPARE(reply ? packet.destination : packet.source, peerAddress);
        QCOMPARE(reply ? packet.destinationPort : packet.sourcePort, peer.localPort());
        QCOMPARE(reply ? packet.sourcePort : packet.destinationPort, port);
        QCOMPARE(packet.payload, reply ? QByteArray("ok") : sent.at(i));
        const QDateTime lineStamp = QDateTime::fromString(f.ui().List2->text(i).left(19),
                                                          QStringLiteral("MM-dd-yyyy HH:mm:ss"));
        const qint64 apart = packet.nanoseconds / 1000000000 - lineStamp.toSecsSinceEpoch();
        QVERIFY2(apart >= -1 && apart <= 1, qPrintable(QString::number(apart)));
    }
    bool subMicrosecond = false;
    for (int i = 1; i < packets.size(); ++i) {
        QVERIFY(packets.at(i - 1).nanoseconds <= packets.at(i).nanoseconds);
        subMicrosecond = subMicrosecond || packets.at(i).nanoseconds % 1000 != 0;
    }
    QVERIFY(subMicrosecond);
}

void TestCapture::tcpSessionInEachHalf_data()
{
    QTest::addColumn<bool>("client");
    QTest::addColumn<QHostAddress>("address");
    for (const bool client : {true, false}) {
        for (const auto address : {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}) {
            const QString name = QString(client ? "client" : "receiver") +
                                 (address == QHostAddress::LocalHost ? ", IPv4" : ", IPv6");
            QTest::newRow(qPrintable(name)) << client << QHostAddress(address);
        }
    }
}

void TestCapture::tcpSessionInEachHalf()
{
    QFETCH(bool, client);
    QFETCH(QHostAddress, address);
    CaptureOn capture;
    WindowFixture f;
    f.window->show();
    QHostAddress peerAddress;
    quint16 peerPort = 0;
    quint16 programPort = 0;
    if (client) {
        TcpPeer peer(address);
        QVERIFY(f.connectClient(peer.port(), address.toString()));
        f.ui().Text1->setText(QStringLiteral("414243"));
        f.ui().cmdOneShot->click();
        QTRY_COMPARE(peer.received(), QByteArray("ABC"));
        peer.send("xyz");
        QTRY_COMPARE(f.list1().constLast(), QStringLiteral("RCV[78797A]"));
        peerAddress = peer.connection()->localAddress();
        peerPort = peer.connection()->localPort();
        programPort = peer.connection()->peerPort();
        peer.closeConnection();
        QTRY_COMPARE(f.list1().constLast(), QStringLiteral("Socket Close."));
    } else {
        const quint16 port = f.openReceiver();
        QTcpSocket peer;
        peer.connectToHost(address, port);
        QVERIFY(peer.waitForConnected(5000));
        peer.write("xyz");
        QTRY_VERIFY(f.list2().contains(QStringLiteral("RCV[78797A]")));
        f.ui().txtRCVPORTSEND->setText(QStringLiteral("ABC"));
        f.ui().cmdRcvPortSend->click();
        QByteArray answer;
        QTRY_COMPARE(answer += peer.readAll(), QByteArray("ABC"));
        peerAddress = peer.localAddress();
        peerPort = peer.localPort();
        programPort = port;
        peer.disconnectFromHost();
        QTRY_VERIFY(f.list2().contains(QStringLiteral("Socket2 Close.")));
    }
    const QList<CapturedPacket> packets = capture.packets(SandboxMoment().date());
    QVERIFY(!packets.isEmpty());
    const CapturedPacket& syn = packets.constFirst();
    QCOMPARE(syn.ipVersion, address.protocol() == QAbstractSocket::IPv4Protocol ? 4 : 6);
    QCOMPARE(client ? syn.destination : syn.source, peerAddress);
    QCOMPARE(client ? syn.destinationPort : syn.sourcePort, peerPort);
    QCOMPARE(client ? syn.sourcePort : syn.destinationPort, programPort);

    const Flow flow = FollowFlow(packets);
    // The program's bytes are ABC, the peer's xyz; then the peer's FIN. The receiver closes its
    // side at once to listen again; the client's link stays half closed until it is reopened.
    const QList<int> data{kPsh | kAck, kPsh | kAck};
    QList<int> closes{kFin | kAck, kAck};
    if (!client)
        closes += closes;
    QCOMPARE(flow.flags, kHandshake + data + closes);
    QCOMPARE(client ? flow.fromOpener : flow.toOpener, QByteArray("ABC"));
    QCOMPARE(client ? flow.toOpener : flow.fromOpener, QByteArray("xyz"));
}

// The toolkit reports a reset as a close; the capture still shows the peer's RST.
void TestCapture::peerResetIsCapturedAsReset()
{
    CaptureOn capture;
    WindowFixture f;
    f.window->show();
    const quint16 port = f.openReceiver();
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(peer.waitForConnected(5000));
    peer.write("xyz");
    QTRY_VERIFY(f.list2().contains(QStringLiteral("RCV[78797A]")));
    const linger abortive{1, 0}; // close then sends a reset
    QCOMPARE(::setsockopt(int(peer.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                          sizeof abortive),
             0);
    peer.abort();
    QTRY_VERIFY(f.list2().contains(QStringLiteral("Socket2 Close.")));
    const Flow flow = FollowFlow(capture.packets(SandboxMoment().date()));
    const QList<int> dataThenReset{kPsh | kAck, kRst | kAck};
    QCOMPARE(flow.flags, kHandshake + dataThenReset);
}

void TestCapture::windowAndLogSameWithCaptureOnOrOff()
{
    QStringList linesOff;
    QByteArray logOff;
    {
        WindowFixture f(QStringLiteral("UDP"));
        linesOff = UdpReceiverSession(f);
        logOff = f.sandbox.bytes(QStringLiteral("24.LOG"));
    }
    CaptureOn capture;
    WindowFixture f(QStringLiteral("UDP"));
    const QStringList linesOn = UdpReceiverSession(f);
    QVERIFY(linesOff.size() >= 3);
    QCOMPARE(linesOn, linesOff);
    QCOMPARE(f.sandbox.bytes(QStringLiteral("24.LOG")), logOff);
    QCOMPARE(capture.packets(SandboxMoment().date()).size(), 3);
}

QTEST_MAIN(TestCapture)
#include "tst_capture.moc"

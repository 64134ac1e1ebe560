// What peertest-cli replay reads: every link type, framed by the test, and what tcpdump captures
// of the system's own TCP on the loopback (Ethernet, pcapng, Linux cooked v1 and v2), each
// connection numbered as tshark numbers them. The tcpdump tests are skipped where it is missing
// or may not capture.
#include "replay/replaysupport.h"

#include <QtEndian>

#include <QStandardPaths>

#include <csignal>
#include <memory>

namespace {

// tcpdump writing `path` for the test's port while it lives.
class Tcpdump {
public:
    Tcpdump(const QStringList& device, const QString& path, quint16 port)
    {
        process_.start(QStringLiteral("tcpdump"),
                       device + QStringList{"--immediate-mode", "-B", "65536", "-w", path,
                                            QStringLiteral("tcp port %1").arg(port)});
        listening_ = QTest::qWaitFor(
                         [this] {
                             said_ += process_.readAllStandardError();
                             return said_.contains("listening on") ||
                                    process_.state() == QProcess::NotRunning;
                         },
                         10000) &&
                     said_.contains("listening on");
    }
    ~Tcpdump()
    {
        process_.kill();
        process_.waitForFinished(5000);
    }
    bool listening() const { return listening_; }
    // Without --immediate-mode a SIGINT may leave the file empty.
    bool stop()
    {
        ::kill(pid_t(process_.processId()), SIGINT);
        const bool stopped = process_.waitForFinished(10000) && process_.exitCode() == 0;
        said_ += process_.readAllStandardError();
        return stopped;
    }
    // The system dropped packets for want of room (a busy loopback): the file is not whole.
    bool dropped() const { return !said_.contains("\n0 packets dropped by kernel"); }

private:
    QProcess process_;
    QByteArray said_;
    bool listening_ = false;
};

// Two connections of "hello N", "bye N", each answered in capitals, then closed.
QList<quint16> TalkTwice(quint16 port)
{
    QList<quint16> clientPorts;
    for (int n = 1; n <= 2; ++n) {
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, port);
        if (!client.waitForConnected(5000))
            return {};
        for (const QByteArray& line :
             {"hello " + QByteArray::number(n) + "\r\n", "bye " + QByteArray::number(n) + "\r\n"}) {
            client.write(line);
            if (!QTest::qWaitFor([&] { return client.bytesAvailable() >= line.size(); }, 5000))
                return {};
            client.readAll();
        }
        clientPorts << client.localPort();
        client.disconnectFromHost();
        if (!QTest::qWaitFor([&] { return client.state() == QAbstractSocket::UnconnectedState; },
                             5000))
            return {};
    }
    return clientPorts;
}

// A classic pcap file of `linkType`, each packet behind `frame`, a millisecond apart.
QString WriteFramed(const QTemporaryDir& dir, quint32 linkType, const QByteArray& frame,
                    const std::vector<QByteArray>& packets)
{
    QByteArray file;
    const auto put = [&file](quint32 value) {
        const quint32 little = qToLittleEndian(value);
        file.append(reinterpret_cast<const char*>(&little), 4);
    };
    for (quint32 word : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 262144u, linkType})
        put(word);
    for (size_t i = 0; i < packets.size(); ++i) {
        const auto length = quint32(frame.size() + packets[i].size());
        for (quint32 word : {1700000000u, quint32(i * 1000), length, length})
            put(word);
        file += frame + packets[i];
    }
    const QString path = dir.filePath(QStringLiteral("framed.pcap"));
    QFile out(path);
    out.open(QIODevice::WriteOnly);
    out.write(file);
    return path;
}

} // namespace

class TestReplayFormats : public QObject {
    Q_OBJECT

private slots:
    void readsEveryLinkType_data();
    void readsEveryLinkType();
    void replaysTheSecondConnection_data();
    void replaysTheSecondConnection();
    void filterKeepsTheNumbers();

private:
    enum class Capturing { Whole, Lossy, Refused };

    // The tcpdump session, captured for the first test that needs it; why not, when it cannot be.
    QString captureOnce();
    Capturing captureSession();
    QString file(const QString& name) const { return dir_.filePath(name); }
    Finished replay(const QString& capture, const QStringList& options);

    QTemporaryDir dir_;
    std::unique_ptr<LinePeer> peer_;
    QList<quint16> clientPorts_;
    bool triedCapture_ = false;
    QString whyNotCaptured_;
};

QString TestReplayFormats::captureOnce()
{
    if (triedCapture_)
        return whyNotCaptured_;
    triedCapture_ = true;
    if (QStandardPaths::findExecutable(QStringLiteral("tcpdump")).isEmpty())
        return whyNotCaptured_ = QStringLiteral("tcpdump is not installed");
    peer_ = std::make_unique<LinePeer>([](const QByteArray& line) { return line.toUpper(); });
    Capturing capturing = Capturing::Lossy;
    for (int attempt = 0; attempt < 3 && capturing == Capturing::Lossy; ++attempt)
        capturing = captureSession();
    if (capturing == Capturing::Refused)
        whyNotCaptured_ = QStringLiteral("tcpdump may not capture here (it needs root)");
    else if (capturing == Capturing::Lossy)
        whyNotCaptured_ = QStringLiteral("tcpdump lost packets of the session; replay rightly "
                                         "refuses such a capture");
    else if (!QStandardPaths::findExecutable(QStringLiteral("editcap")).isEmpty())
        QProcess::execute(QStringLiteral("editcap"),
                          {"-F", "pcapng", file("lo.pcap"), file("lo.pcapng")});
    return whyNotCaptured_;
}

// The session captured on the loopback as Ethernet and on every device as Linux cooked v1 and
// v2, at once.
TestReplayFormats::Capturing TestReplayFormats::captureSession()
{
    Tcpdump ethernet({"-i", "lo"}, file(QStringLiteral("lo.pcap")), peer_->port());
    Tcpdump cooked2({"-i", "any", "-y", "LINUX_SLL2"}, file(QStringLiteral("any2.pcap")),
                    peer_->port());
    Tcpdump cooked1({"-i", "any", "-y", "LINUX_SLL"}, file(QStringLiteral("any1.pcap")),
                    peer_->port());
    if (!ethernet.listening() || !cooked2.listening() || !cooked1.listening())
        return Capturing::Refused;
    clientPorts_ = TalkTwice(peer_->port());
    const bool stopped = ethernet.stop() && cooked2.stop() && cooked1.stop();
    return stopped && !ethernet.dropped() && !cooked2.dropped() && !cooked1.dropped()
               ? Capturing::Whole
               : Capturing::Lossy;
}

Finished TestReplayFormats::replay(const QString& capture, const QStringList& options)
{
    return RunCli(QStringList{"replay", capture, "--to",
                              QStringLiteral("tcp://127.0.0.1:%1").arg(peer_->port()), "--check",
                              "--speed", "max"} +
                  options);
}

void TestReplayFormats::replaysTheSecondConnection_data()
{
    QTest::addColumn<QString>("capture");
    QTest::newRow("Ethernet") << "lo.pcap";
    QTest::newRow("pcapng") << "lo.pcapng";
    QTest::newRow("Linux cooked v1") << "any1.pcap";
    QTest::newRow("Linux cooked v2") << "any2.pcap";
}

// tcp.stream 1 is the second connection: only its bytes go out, and its answers match.
void TestReplayFormats::replaysTheSecondConnection()
{
    QFETCH(QString, capture);
    if (const QString why = captureOnce(); !why.isEmpty())
        QSKIP(qPrintable(why));
    QCOMPARE(clientPorts_.size(), 2);
    if (!QFile::exists(file(capture)))
        QSKIP("editcap is not installed, or failed");
    const qsizetype before = peer_->received.size();
    const Finished finished = replay(file(capture), {"--stream", "1"});
    QVERIFY2(finished.status == 0, qPrintable(finished.out + finished.err));
    QVERIFY(finished.out.contains(
        QStringLiteral("PASS tcp.stream 1 (127.0.0.1:%1 > ").arg(clientPorts_.at(1))));
    QTRY_COMPARE(peer_->received.mid(before), QByteArrayList{"hello 2\r\nbye 2\r\n"});
}

// A filter takes packets out, not numbers: the second connection is still tcp.stream 1.
void TestReplayFormats::filterKeepsTheNumbers()
{
    if (const QString why = captureOnce(); !why.isEmpty())
        QSKIP(qPrintable(why));
    QCOMPARE(clientPorts_.size(), 2);
    const Finished finished =
        replay(file(QStringLiteral("lo.pcap")),
               {"--filter", QStringLiteral("tcp port %1").arg(clientPorts_.at(1))});
    QCOMPARE(finished.status, 0);
    QVERIFY2(finished.out.contains(
                 QStringLiteral("PASS tcp.stream 1 (127.0.0.1:%1 > ").arg(clientPorts_.at(1))) &&
                 finished.out.contains(QStringLiteral("1 passed, 0 failed")),
             qPrintable(finished.out));
}

void TestReplayFormats::readsEveryLinkType_data()
{
    QTest::addColumn<quint32>("linkType");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<bool>("ipv6");
    const QByteArray macs = QByteArray::fromHex("000000000001000000000002");
    QTest::newRow("raw IP") << 101u << QByteArray() << false;
    QTest::newRow("raw IPv6") << 101u << QByteArray() << true;
    QTest::newRow("BSD loopback") << 0u << QByteArray::fromHex("02000000") << false;
    QTest::newRow("OpenBSD loopback") << 108u << QByteArray::fromHex("00000018") << true;
    QTest::newRow("Ethernet, VLAN tag")
        << 1u << macs + QByteArray::fromHex("810000050800") << false;
    QTest::newRow("Ethernet, IPv6") << 1u << macs + QByteArray::fromHex("86DD") << true;
    QTest::newRow("Linux cooked v1")
        << 113u << QByteArray::fromHex("00000304000600000000000000000800") << false;
    QTest::newRow("Linux cooked v2")
        << 276u << QByteArray::fromHex("86DD000000000001030400060000000000000000") << true;
}

void TestReplayFormats::readsEveryLinkType()
{
    QFETCH(quint32, linkType);
    QFETCH(QByteArray, frame);
    QFETCH(bool, ipv6);
    const QTemporaryDir dir;
    const QString path = WriteFramed(dir, linkType, frame, TcpSession(ipv6 ? kIPv6Ends : kTcpEnds));
    LinePeer answering([](const QByteArray& line) { return Pong(line); });
    const Finished finished =
        RunCli({"replay", path, "--to", Target(answering.port()), "--check", "--speed", "max"});
    QVERIFY2(finished.status == 0, qPrintable(finished.out + finished.err));
    QCOMPARE(answering.received, QByteArrayList{"PING 1\r\nPING 2\r\n"});
}

QTEST_GUILESS_MAIN(TestReplayFormats)
#include "tst_replay_formats.moc"

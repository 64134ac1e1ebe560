// peertest-cli replay on captures written by the program's own capture code: the receiver's
// capture replayed against its rules, answers compared and masked, TCP bytes put back in
// order, captured pauses kept at the replay's speed, and what is refused before anything is
// sent.
#include "capture/capturefile.h"
#include "capture/packets.h"
#include "replay/replaysupport.h"
#include "support/peers.h"
#include "support/programrun.h"

namespace {

// How the peer under test answers a PING line.
LinePeer::Answer PeerNamed(const QString& name)
{
    if (name == QLatin1String("clock"))
        return [](const QByteArray& line) { return Pong(line, "200"); };
    if (name == QLatin1String("number"))
        return [](const QByteArray& line) { return Pong(line, "100", "7"); };
    if (name == QLatin1String("silent second"))
        return [](const QByteArray& line) {
            return line.startsWith("PING 2") ? QByteArray() : Pong(line);
        };
    if (name == QLatin1String("extra"))
        return [](const QByteArray& line) { return Pong(line) + '!'; };
    if (name == QLatin1String("wrong start"))
        return [](const QByteArray&) { return QByteArray("X"); };
    return [](const QByteArray& line) { return Pong(line); };
}

} // namespace

class TestReplay : public QObject {
    Q_OBJECT

private slots:
    void receiverCaptureReplaysAgainstItsRules();
    void checksAnswers_data();
    void checksAnswers();
    void failsAtOnce_data();
    void failsAtOnce();
    void putsTcpBytesBackInOrder_data();
    void putsTcpBytesBackInOrder();
    void keepsCapturedPausesAtItsSpeed_data();
    void keepsCapturedPausesAtItsSpeed();
    void comparesEachDatagram_data();
    void comparesEachDatagram();
    void refusesBeforeSending_data();
    void refusesBeforeSending();
};

// The loop of the README: the receiver answers by rules and captures; its capture, replayed
// against the same rules, passes, and against changed ones fails where the answer changed.
void TestReplay::receiverCaptureReplaysAgainstItsRules()
{
    QTemporaryDir dir;
    const auto startReceiver = [&](ProgramRun& run, const QByteArray& reply, quint16 port) {
        const QString rules = dir.filePath(QString::fromLatin1(reply) + QStringLiteral(".toml"));
        QFile file(rules);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[[rule]]\nname = \"ping\"\nmatch = '\"PING \" {n:*} \"\\r\\n\"'\nreply = '\"" +
                   reply + " \" {n} \"\\r\\n\"'\n");
        file.close();
        run.setEnvironment(QStringLiteral("PEERTEST_RULES"), rules);
        run.setEnvironment(QStringLiteral("PEERTEST_CAPTURE"), dir.filePath(QStringLiteral("cap")));
        QVERIFY(run.start({QString::number(port)}));
        QVERIFY(run.waitUntilLoaded());
    };
    const QString capture =
        dir.filePath(QStringLiteral("cap/") + QDate::currentDate().toString(QStringLiteral("dd")) +
                     QStringLiteral(".pcap"));
    HeldTcpPort port;
    ProgramRun same;
    startReceiver(same, "PONG", port.port());
    const QString target = Target(port.port());
    QCOMPARE(RunCli({"send", target, "\"PING 1\\r\\n\"", "--repeat", "2"}).status, 0);
    const Finished passed = RunCli({"replay", capture, "--to", target, "--check", "--stream", "0"});
    QCOMPARE(passed.status, 0);
    QVERIFY(passed.out.contains(QStringLiteral("1 passed, 0 failed")));
    QVERIFY(same.stop());

    ProgramRun changed;
    startReceiver(changed, "PANG", port.port());
    const Finished failed = RunCli({"replay", capture, "--to", target, "--check", "--stream", "0"});
    QCOMPARE(failed.status, 1);
    QVERIFY2(failed.out.contains(
                 QStringLiteral("exchange 1, answer at offset 1: expected 0x4F, received 0x41")),
             qPrintable(failed.out));
}

void TestReplay::checksAnswers_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("difference");
    const QStringList check{"--check"};
    const QString clockPattern = QStringLiteral("pattern:\"PONG \" * \" t=\" {t:4} \"\\r\\n\"");
    QTest::newRow("the same answers") << "same" << check << 0 << "";
    QTest::newRow("a clock changed")
        << "clock" << check << 1 << "exchange 1, answer at offset 9: expected 0x31, received 0x32";
    QTest::newRow("a clock changed, unchecked") << "clock" << QStringList() << 0 << "";
    // The clock's first digit, at offset 9, is the last byte of one range and just outside the
    // others.
    QTest::newRow("a range that ends on it")
        << "clock" << (check + QStringList{"--ignore", "bytes:6+4"}) << 0 << "";
    QTest::newRow("a range that starts after it")
        << "clock" << (check + QStringList{"--ignore", "bytes:10+3"}) << 1
        << "exchange 1, answer at offset 9: expected 0x31, received 0x32";
    QTest::newRow("a range that ends before it")
        << "clock" << (check + QStringList{"--ignore", "bytes:5+4"}) << 1
        << "exchange 1, answer at offset 9: expected 0x31, received 0x32";
    QTest::newRow("a clock masked by a pattern")
        << "clock" << (check + QStringList{"--ignore", clockPattern}) << 0 << "";
    QTest::newRow("an unnamed run is still compared")
        << "number" << (check + QStringList{"--ignore", clockPattern}) << 1
        << "exchange 1, answer at offset 5: expected 0x31, received 0x37";
    QTest::newRow("an answer missing")
        << "silent second" << check << 1
        << "exchange 2, answer at offset 0: expected 0x50, nothing came within 300 ms";
    QTest::newRow("a byte more") << "extra" << check << 1
                                 << "exchange 1, answer at offset 15: expected nothing more, "
                                    "received 0x21";
    QTest::newRow("an answer late")
        << "late" << check << 1
        << "exchange 1, answer at offset 0: expected 0x50, nothing came within 300 ms";
}

// Each answer against the captured one: the first difference named by exchange and offset,
// masks that hide just what they name, missing, extra and late answers; one testcase a
// conversation in the JUnit report.
void TestReplay::checksAnswers()
{
    QFETCH(QString, peer);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, difference);
    WrittenCapture capture;
    capture.write(TcpSession(kTcpEnds));
    LinePeer answering(PeerNamed(peer), peer == QLatin1String("late") ? 600 : 0);
    const QTemporaryDir dir;
    const QString junit = dir.filePath(QStringLiteral("replay.xml"));
    const Finished finished =
        RunCli(QStringList{"replay", capture.path(), "--to", Target(answering.port()), "--timeout",
                           "300ms", "--speed", "max", "--junit", junit} +
               options);
    QCOMPARE(finished.status, status);
    QVERIFY2(finished.out.contains(difference), qPrintable(finished.out));
    QFile report(junit);
    QVERIFY(report.open(QIODevice::ReadOnly));
    const QByteArray xml = report.readAll();
    QCOMPARE(xml.count("<testcase "), 1);
    QCOMPARE(xml.count("<failure "), status == 0 ? 0 : 1);
    if (status == 0)
        QCOMPARE(answering.received, QByteArrayList{"PING 1\r\nPING 2\r\n"});
}

void TestReplay::failsAtOnce_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QString>("difference");
    QTest::newRow("a wrong first byte, the rest never coming")
        << "wrong start"
        << "exchange 1, answer at offset 0: expected 0x50, received 0x58";
    QTest::newRow("a flood after the answer")
        << "flood"
        << "exchange 1, answer at offset 15: expected nothing more, received 0x5A";
}

// An answer that can no longer be the captured one fails the conversation there and then, well
// before the timeout, naming the exchange's request; a peer that floods does not hold the
// replay.
void TestReplay::failsAtOnce()
{
    QFETCH(QString, peer);
    QFETCH(QString, difference);
    WrittenCapture capture;
    capture.write(TcpSession(kTcpEnds));
    LinePeer answering(PeerNamed(peer));
    FloodingPeer flooding;
    const quint16 port = peer == QLatin1String("flood") ? flooding.port() : answering.port();
    const Finished finished =
        RunCli({"replay", capture.path(), "--to", Target(port), "--check", "--timeout", "5s"});
    QCOMPARE(finished.status, 1);
    QVERIFY2(finished.out.contains(difference), qPrintable(finished.out.right(3000)));
    QVERIFY2(finished.out.contains(QStringLiteral("request: 50494E4720310D0A \"PING 1\\r\\n\"")),
             qPrintable(finished.out.right(3000)));
    QVERIFY2(finished.ms < 3000, qPrintable(QString::number(finished.ms)));
}

void TestReplay::putsTcpBytesBackInOrder_data()
{
    QTest::addColumn<quint32>("firstSequence");
    QTest::addColumn<QList<int>>("segments"); // of AB, CD, EF, CDEF, as captured
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("in order") << 1000u << QList<int>{0, 1, 2} << 0 << QByteArray("ABCDEF");
    QTest::newRow("early, again and overlapping")
        << 1000u << QList<int>{1, 0, 0, 3, 2} << 0 << QByteArray("ABCDEF");
    QTest::newRow("numbers that wrap")
        << 0xFFFFFFFEu << QList<int>{1, 0, 3} << 0 << QByteArray("ABCDEF");
    QTest::newRow("a segment the capture lost") << 1000u << QList<int>{0, 2} << 2 << QByteArray();
}

// Retransmitted, early and overlapping segments of a capture go out once and in order; bytes
// the capture lost stop the replay before anything is sent.
void TestReplay::putsTcpBytesBackInOrder()
{
    QFETCH(quint32, firstSequence);
    QFETCH(QList<int>, segments);
    QFETCH(int, status);
    QFETCH(QByteArray, sent);
    const QList<QPair<quint32, QByteArray>> kSegments{{0, "AB"}, {2, "CD"}, {4, "EF"}, {2, "CDEF"}};
    const quint32 data = firstSequence + 1;
    std::vector<QByteArray> packets{
        TcpPacket(kTcpEnds, firstSequence, 0, TcpFlag::Syn),
        TcpPacket(kTcpEnds.Reversed(), 5000, data, TcpFlag::Syn | TcpFlag::Ack),
        TcpPacket(kTcpEnds, data, 5001, TcpFlag::Ack)};
    for (int index : segments)
        packets.push_back(TcpPacket(kTcpEnds, data + kSegments[index].first, 5001,
                                    TcpFlag::Psh | TcpFlag::Ack, kSegments[index].second));
    WrittenCapture capture;
    capture.write(packets);
    LinePeer recording([](const QByteArray&) { return QByteArray(); });
    const Finished finished =
        RunCli({"replay", capture.path(), "--to", Target(recording.port()), "--speed", "max"});
    QCOMPARE(finished.status, status);
    if (status == 0)
        QTRY_COMPARE(recording.received, QByteArrayList{sent});
    else
        QVERIFY2(finished.err.contains(QStringLiteral("misses bytes the client sent, from its "
                                                      "byte 2 on")) &&
                     recording.received.isEmpty(),
                 qPrintable(finished.err));
}

void TestReplay::keepsCapturedPausesAtItsSpeed_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<qint64>("leastMs");
    QTest::addColumn<qint64>("mostMs");
    QTest::newRow("as captured") << "1" << qint64(1950) << qint64(60000);
    QTest::newRow("four times as fast") << "4" << qint64(480) << qint64(1500);
    QTest::newRow("no pauses") << "max" << qint64(0) << qint64(1000);
}

// A client that waited two seconds between its payloads waits two seconds divided by --speed.
void TestReplay::keepsCapturedPausesAtItsSpeed()
{
    QFETCH(QString, speed);
    QFETCH(qint64, leastMs);
    QFETCH(qint64, mostMs);
    TcpFlow flow(kTcpEnds, true);
    WrittenCapture capture;
    capture.write(flow.Handshake());
    capture.write(flow.Data(true, "A\n"));
    capture.pause(2'000'000'000);
    capture.write(flow.Data(true, "B\n"));
    LinePeer recording([](const QByteArray&) { return QByteArray(); });
    const Finished finished =
        RunCli({"replay", capture.path(), "--to", Target(recording.port()), "--speed", speed});
    QCOMPARE(finished.status, 0);
    QTRY_COMPARE(recording.received, QByteArrayList{"A\nB\n"});
    QVERIFY2(finished.ms >= leastMs && finished.ms <= mostMs,
             qPrintable(QString::number(finished.ms)));
}

void TestReplay::comparesEachDatagram_data()
{
    QTest::addColumn<QString>("peer");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("difference");
    QTest::newRow("the same datagrams") << "same" << 0 << "";
    QTest::newRow("a datagram missing")
        << "one short" << 1
        << "exchange 2, answer datagram 2 of 2 at offset 0: expected 0x73, nothing came within "
           "300 ms";
    QTest::newRow("a datagram more")
        << "one more" << 1
        << "exchange 2, answer datagram 3 of 2 at offset 0: expected nothing more, received 0x6D";
}

// Over IPv6 and UDP each captured datagram of an answer is one to wait for and compare, and
// one that comes before the next payload goes, after the captured pause, is one too many.
void TestReplay::comparesEachDatagram()
{
    QFETCH(QString, peer);
    QFETCH(int, status);
    QFETCH(QString, difference);
    const PacketEnds back = kIPv6Ends.Reversed();
    WrittenCapture capture;
    capture.write({UdpPacket(kIPv6Ends, "one"), UdpPacket(back, "ONE"), UdpPacket(kIPv6Ends, "two"),
                   UdpPacket(back, "TWO"), UdpPacket(back, "second")});
    capture.pause(300'000'000);
    capture.write({UdpPacket(kIPv6Ends, "quiet")});
    DatagramPeer answering(
        [peer](const QByteArray& datagram) {
            if (datagram == "quiet")
                return QByteArrayList();
            QByteArrayList answers{datagram.toUpper()};
            if (datagram == "two" && peer != QLatin1String("one short"))
                answers << "second";
            if (datagram == "two" && peer == QLatin1String("one more"))
                answers << "more";
            return answers;
        },
        QHostAddress::LocalHostIPv6);
    const Finished finished = RunCli({"replay", capture.path(), "--to",
                                      QStringLiteral("udp://[::1]:%1").arg(answering.port()),
                                      "--check", "--timeout", "300ms"});
    QCOMPARE(finished.status, status);
    QVERIFY2(finished.out.contains(difference), qPrintable(finished.out));
    QCOMPARE(answering.received.size(), status == 0 ? 3 : 2);
}

void TestReplay::refusesBeforeSending_data()
{
    QTest::addColumn<QByteArray>("file"); // what the capture holds instead, if anything
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    const QStringList to{"--to", "tcp://127.0.0.1:PORT"};
    const QByteArray written; // the session as captured
    QTest::newRow("no BPF") << written << (to + QStringList{"--filter", "tcp port"}) << 2
                            << "--filter: ";
    QTest::newRow("a range without its length")
        << written << (to + QStringList{"--ignore", "bytes:4"}) << 2
        << "--ignore bytes:4, column 7: ";
    QTest::newRow("an expression to ignore")
        << written << (to + QStringList{"--ignore", "pattern:\"PONG\" re\"[0-9]+\""}) << 2
        << "column 16: an expression cannot be placed";
    QTest::newRow("a stream it has not")
        << written << (to + QStringList{"--stream", "1"}) << 2 << "has no tcp.stream 1 (it has 1)";
    QTest::newRow("no conversation of that protocol")
        << written << QStringList{"--to", "udp://127.0.0.1:PORT"} << 2 << "has no UDP conversation";
    QTest::newRow("no speed") << written << (to + QStringList{"--speed", "0"}) << 2
                              << "--speed takes";
    QTest::newRow("not a capture") << QByteArray("PING\r\n") << to << 2 << "unknown file format";
    QTest::newRow("nobody listening")
        << written << QStringList{"--to", "tcp://127.0.0.1:HELD"} << 3 << "Connection refused";
}

// A command line, capture or mask that is wrong is said before any connection is made.
void TestReplay::refusesBeforeSending()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, message);
    WrittenCapture capture;
    capture.write(TcpSession(kTcpEnds));
    if (!file.isEmpty()) {
        QFile text(capture.path());
        QVERIFY(text.open(QIODevice::WriteOnly | QIODevice::Truncate));
        text.write(file);
    }
    LinePeer answering(PeerNamed(QStringLiteral("same")));
    const HeldTcpPort held;
    options.replaceInStrings(QStringLiteral("PORT"), QString::number(answering.port()));
    options.replaceInStrings(QStringLiteral("HELD"), QString::number(held.port()));
    const Finished finished = RunCli(QStringList{"replay", capture.path()} + options);
    QCOMPARE(finished.status, status);
    QVERIFY2((finished.out + finished.err).contains(message), qPrintable(finished.err));
    QVERIFY(answering.received.isEmpty());
}

QTEST_GUILESS_MAIN(TestReplay)
#include "tst_replay.moc"

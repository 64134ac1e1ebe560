// The stand-in on real loopback sockets: the test's own TCP and UDP sockets are the owner's, a
// client socket of the test is the peer.
#include "standin/rulessource.h"
#include "standin/tcpstandin.h"

#include <QElapsedTimer>
#include <QFile>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <sys/stat.h>

namespace {

const QByteArray kRules = R"(
idle = "100ms"

[[rule]]
name = "ping"
match = '"PING\r\n"'
reply = '"PONG\r\n"'

[[rule]]
name = "slow"
match = '"SLOW\r\n"'
reply = '"LATE\r\n"'
delay = "150ms"

[[rule]]
name = "bye"
match = '"BYE\r\n"'
reply = '"CIAO\r\n"'
delay = "100ms"
close = true
)";

RuleSet Rules(const QByteArray& text)
{
    RulesLoad load = ParseRulesText(text, QStringLiteral("test.toml"));
    if (!load.rules)
        qFatal("%s", qPrintable(load.errors.join(u'\n')));
    return std::move(*load.rules);
}

// A TCP connection answered by a TcpStandIn: the accepted end is the owner's, `peer` the client.
struct TcpLink {
    explicit TcpLink(StandIn& standIn)
    {
        server.listen(QHostAddress::LocalHost, 0);
        peer.connectToHost(QHostAddress::LocalHost, server.serverPort());
        if (!server.waitForNewConnection(5000) || !peer.waitForConnected(5000))
            qFatal("no loopback connection");
        owner = server.nextPendingConnection();
        link = std::make_unique<TcpStandIn>(
            standIn, PeerEnd{owner->peerAddress(), owner->peerPort()},
            [this](const QByteArray& bytes) {
                if (owner->state() != QAbstractSocket::ConnectedState)
                    return QStringLiteral("the connection is closed");
                owner->write(bytes);
                return QString();
            },
            [this] { owner->disconnectFromHost(); });
        QObject::connect(owner, &QTcpSocket::readyRead, link.get(),
                         [this] { link->Arrived(owner->readAll()); });
        QObject::connect(owner, &QTcpSocket::disconnected, link.get(), [this] { link->Closed(); });
    }

    // What the peer has received once it holds `size` bytes (bounded wait).
    QByteArray Receive(qsizetype size, int timeoutMs = 3000)
    {
        const bool enough = QTest::qWaitFor(
            [&] { return received.size() + peer.bytesAvailable() >= size; }, timeoutMs);
        Q_UNUSED(enough) // the caller compares what came
        received += peer.readAll();
        return received;
    }

    QTcpServer server;
    QTcpSocket peer;
    QTcpSocket* owner = nullptr;
    std::unique_ptr<TcpStandIn> link;
    QByteArray received;
};

} // namespace

class TestStandIn : public QObject {
    Q_OBJECT
private slots:
    void init();
    void tcpAnswers_data();
    void tcpAnswers();
    void closeAfterDelay();
    void idleBytesDropped();
    void replyDueAfterPeerLeft();
    void udpDelayedReplyGoesToTheAsker();
    void rulesFileEditedWhileRunning();

private:
    StandIn& NewStandIn(const QByteArray& rules = kRules);

    std::unique_ptr<Responder> responder_;
    std::unique_ptr<StandIn> standIn_;
    QStringList lines_;
    QUdpSocket udp_;
    bool hex_ = true;
};

void TestStandIn::init()
{
    lines_.clear();
    hex_ = true;
    standIn_.reset();
    responder_.reset();
}

StandIn& TestStandIn::NewStandIn(const QByteArray& rules)
{
    responder_ = std::make_unique<Responder>(Rules(rules));
    StandInOutput output{
        [this](const QString& line, const PeerEnd&, const Answer*) { lines_ << line; },
        [this] { return hex_; }};
    standIn_ = std::make_unique<StandIn>(
        *responder_, std::move(output),
        [this](const QByteArray& bytes, const QHostAddress& to, quint16 port) {
            udp_.writeDatagram(bytes, to, port);
            return QString();
        });
    return *standIn_;
}

// Each row: what the peer writes, each piece after the one before has arrived; what it must get
// back, and the shortest time that may take.
void TestStandIn::tcpAnswers_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("atLeastMs");
    QTest::newRow("request split over writes")
        << QList<QByteArray>{"PI", "NG", "\r\n"} << QByteArray("PONG\r\n") << 0;
    QTest::newRow("requests merged in one write")
        << QList<QByteArray>{"PING\r\nPING\r\n"} << QByteArray("PONG\r\nPONG\r\n") << 0;
    QTest::newRow("a quick reply waits for a delayed one before it")
        << QList<QByteArray>{"SLOW\r\nPING\r\n"} << QByteArray("LATE\r\nPONG\r\n") << 150;
}

void TestStandIn::tcpAnswers()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QByteArray, replies);
    QFETCH(int, atLeastMs);
    TcpLink tcp(NewStandIn());
    QElapsedTimer clock;
    clock.start();
    for (const QByteArray& piece : writes) {
        tcp.peer.write(piece);
        tcp.peer.flush();
        QTest::qWait(20); // each piece its own arrival
    }
    QCOMPARE(tcp.Receive(replies.size()), replies);
    QVERIFY(clock.elapsed() >= atLeastMs);
    QVERIFY(lines_.contains(QStringLiteral("AUTO[ping]:[504F4E470D0A]")));
}

void TestStandIn::closeAfterDelay()
{
    TcpLink tcp(NewStandIn());
    hex_ = false;
    QSignalSpy closed(&tcp.peer, &QTcpSocket::disconnected);
    QElapsedTimer clock;
    clock.start();
    tcp.peer.write("BYE\r\nPING\r\n");
    QVERIFY(closed.wait(3000));
    QVERIFY(clock.elapsed() >= 100);
    // The request after the closing one is never answered.
    QCOMPARE(tcp.received + tcp.peer.readAll(), QByteArray("CIAO\r\n"));
    QCOMPARE(responder_->HitsOf(0), quint64(0));
    QCOMPARE(lines_.join(u"|"), QStringLiteral("AUTO[bye]:[CIAO\r\n]"));
}

void TestStandIn::idleBytesDropped()
{
    TcpLink tcp(NewStandIn());
    tcp.peer.write("xyz");
    QVERIFY(QTest::qWaitFor([&] { return lines_.contains(QStringLiteral("UNMATCHED[3]")); }, 3000));
    // Dropped, so they no longer stand before the next request.
    tcp.peer.write("PING\r\n");
    QCOMPARE(tcp.Receive(6), QByteArray("PONG\r\n"));
    QCOMPARE(responder_->Unmatched(), quint64(1));
}

void TestStandIn::replyDueAfterPeerLeft()
{
    TcpLink tcp(NewStandIn());
    tcp.peer.write("SLOW\r\nab");
    QVERIFY(QTest::qWaitFor(
        [&] { return tcp.owner->bytesAvailable() == 0 && responder_->HitsOf(1) == 1; }, 3000));
    tcp.peer.abort();
    QVERIFY(QTest::qWaitFor([&] { return lines_.size() >= 2; }, 3000));
    QTest::qWait(250); // past the delay: nothing is sent into the closed socket
    QCOMPARE(lines_, (QStringList{QStringLiteral("AUTO[slow] not sent: the connection is closed"),
                                  QStringLiteral("UNMATCHED[2]")}));
}

void TestStandIn::udpDelayedReplyGoesToTheAsker()
{
    NewStandIn();
    QVERIFY(udp_.bind(QHostAddress::LocalHost, 0));
    connect(&udp_, &QUdpSocket::readyRead, this, [this] {
        while (udp_.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = udp_.receiveDatagram();
            standIn_->Datagram(datagram.data(),
                               {datagram.senderAddress(), quint16(datagram.senderPort())});
        }
    });
    QUdpSocket slow;
    QUdpSocket quick;
    slow.writeDatagram("SLOW\r\n", QHostAddress::LocalHost, udp_.localPort());
    QTest::qWait(20);
    quick.writeDatagram("PING\r\n", QHostAddress::LocalHost, udp_.localPort());
    QVERIFY(QTest::qWaitFor([&] { return slow.hasPendingDatagrams(); }, 3000));
    QCOMPARE(slow.receiveDatagram().data(), QByteArray("LATE\r\n"));
    QVERIFY(quick.hasPendingDatagrams());
    QCOMPARE(quick.receiveDatagram().data(), QByteArray("PONG\r\n"));
    QVERIFY(!slow.hasPendingDatagrams());
}

// An editor that writes a new file in the old one's place, then an edit that breaks the file.
void TestStandIn::rulesFileEditedWhileRunning()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rules.toml"));
    const auto write = [&](const QByteArray& text) {
        QFile file(dir.filePath(QStringLiteral("rules.toml.new")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();
        QVERIFY(::rename(QFile::encodeName(file.fileName()).constData(),
                         QFile::encodeName(path).constData()) == 0);
    };
    write(kRules);
    RulesSource source(path, [this](const QString& line) { lines_ << line; });
    QCOMPARE(source.Start(), QStringList());
    Responder& responder = source.TheResponder();
    QElapsedTimer clock;
    clock.start();
    write(QByteArray(kRules).replace("PONG", "PANG"));
    QVERIFY(QTest::qWaitFor([&] { return !lines_.isEmpty(); }, 2000));
    QVERIFY2(lines_.constFirst().startsWith(QStringLiteral("Rules: reloaded")),
             qPrintable(lines_.join(u'\n')));
    QCOMPARE(responder.AnswerDatagram("PING\r\n", QHostAddress::LocalHost, 1).reply,
             QByteArray("PANG\r\n"));

    write("[[rule]]\nname = \"broken\"\nmatch = '0'\n");
    QVERIFY(QTest::qWaitFor([&] { return lines_.size() > 1; }, 2000));
    QTest::qWait(1300); // a poll or more later: told once only
    QCOMPARE(lines_.size(), 2);
    QVERIFY2(lines_.at(1).startsWith(QStringLiteral("Rules Err: ")) &&
                 lines_.at(1).contains(path + QStringLiteral(":3:10: ")),
             qPrintable(lines_.at(1)));
    QCOMPARE(responder.AnswerDatagram("PING\r\n", QHostAddress::LocalHost, 1).reply,
             QByteArray("PANG\r\n"));

    // A FIFO in its place is not opened for reading, which would wait for a writer for good.
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    QVERIFY(::rename(QFile::encodeName(fifo).constData(), QFile::encodeName(path).constData()) ==
            0);
    QVERIFY(QTest::qWaitFor([&] { return lines_.size() > 2; }, 2000));
    QTest::qWait(1300);
    QCOMPARE(lines_.size(), 3);
    QCOMPARE(lines_.at(2), QStringLiteral("Rules Err: not reloaded, the rules in force stay: ") +
                               path + QStringLiteral(":1:1: Not a regular file"));
    QCOMPARE(responder.AnswerDatagram("PING\r\n", QHostAddress::LocalHost, 1).reply,
             QByteArray("PANG\r\n"));
}

QTEST_GUILESS_MAIN(TestStandIn)
#include "tst_standin.moc"

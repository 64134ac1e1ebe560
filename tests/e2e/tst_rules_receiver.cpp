// The receiver standing in for a device: PEERTEST_RULES answers what arrives, in the window and
// headless, over TCP and UDP, and the record says what was answered and by which rule.
#include "support/programrun.h"
#include "support/windowfixture.h"

#include <QNetworkDatagram>
#include <QRadioButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>

namespace {

// Modbus RTU over TCP: read two holding registers, the CRC checked and computed; and a text
// rule that closes the connection after its answer.
const QByteArray kRules = R"(
[[rule]]
name = "read-registers"
match = '01 03 {address:2} 00 02 {crc16_modbus}'
reply = '01 03 04 00 2A 00 2B {crc16_modbus}'

[[rule]]
name = "bye"
match = '"BYE\r\n"'
reply = '"bye #" {counter} "\r\n"'
close = true
)";

// Read holding registers 0 and 1 of unit 1, its CRC low byte first.
const QByteArray kReadRequest = QByteArray::fromHex("010300000002C40B");
const QByteArray kReadAnswer = QByteArray::fromHex("010304002A002B9BE4");

QString WriteRules(const QTemporaryDir& dir, const QByteArray& rules)
{
    const QString path = dir.filePath(QStringLiteral("rules.toml"));
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(rules);
    return path;
}

QByteArray ReadUntil(QTcpSocket& peer, qsizetype size)
{
    QByteArray got;
    const bool ended = QTest::qWaitFor(
        [&] {
            got += peer.readAll();
            return got.size() >= size || peer.state() != QAbstractSocket::ConnectedState;
        },
        5000);
    return ended ? got + peer.readAll() : got;
}

quint16 FreePort()
{
    QTcpServer chooser;
    chooser.listen(QHostAddress::LocalHost, 0);
    return chooser.serverPort();
}

QStringList Messages(const QStringList& lines)
{
    QStringList messages;
    for (const QString& line : lines)
        messages << LoggedMessage(line);
    return messages;
}

} // namespace

class TestRulesReceiver : public QObject {
    Q_OBJECT
private slots:
    void headlessTcpAnswersSplitRequestsAndClosesByRule();
    void headlessBadRulesEndTheRun_data();
    void headlessBadRulesEndTheRun();
    void windowUdpAnswersInTheCurrentDisplayAndFollowsAnEdit();
    void windowTcpAnswersPeersThatHalfClose();
};

// A request split over two arrivals gets one answer; a rule's close ends the connection and the
// receiver listens again for the next peer; the hit counts come before the End line.
void TestRulesReceiver::headlessTcpAnswersSplitRequestsAndClosesByRule()
{
    QTemporaryDir dir;
    const quint16 port = FreePort();
    ProgramRun run;
    run.setEnvironment(QStringLiteral("PEERTEST_RULES"), WriteRules(dir, kRules));
    QVERIFY(run.start({QString::number(port)}));
    QVERIFY(run.waitUntilLoaded());

    for (int visit = 1; visit <= 2; ++visit) {
        QTcpSocket peer;
        QVERIFY(QTest::qWaitFor(
            [&] {
                peer.connectToHost(QHostAddress::LocalHost, port);
                return peer.waitForConnected(200);
            },
            10000));
        peer.write(kReadRequest.left(3));
        QVERIFY(peer.waitForBytesWritten(1000));
        QTest::qWait(50);
        peer.write(kReadRequest.mid(3) + "BYE\r\n");
        QCOMPARE(ReadUntil(peer, 100), kReadAnswer + "bye #" + QByteArray::number(visit) + "\r\n");
        QTRY_VERIFY(peer.state() == QAbstractSocket::UnconnectedState);
    }
    QVERIFY(run.stop());

    const QStringList messages = Messages(run.dayFileLines());
    QCOMPARE(messages.filter(QStringLiteral("AUTO[read-registers]:[010304002A002B9BE4]")).size(),
             2);
    QCOMPARE(messages.filter(QStringLiteral("AUTO[bye]:[627965202331")).size(), 1);
    QCOMPARE(messages.value(messages.size() - 2),
             QStringLiteral("RULES: read-registers 2, bye 2, (none) 0"));
}

// A stand-in that cannot answer ends the run at once, saying where the file is wrong; a FIFO or a
// device at the path is not read at all (one would block the run, the other never end).
void TestRulesReceiver::headlessBadRulesEndTheRun_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("where");
    QTest::newRow("a bad pattern") << "text"
                                   << ":3:";
    QTest::newRow("a FIFO") << "fifo"
                            << ":1:1: Not a regular file";
    QTest::newRow("a link to /dev/zero") << "zero"
                                         << ":1:1: Not a regular file";
}

void TestRulesReceiver::headlessBadRulesEndTheRun()
{
    QFETCH(QString, kind);
    QFETCH(QString, where);
    QTemporaryDir dir;
    ProgramRun run;
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    QString path = WriteRules(dir, "[[rule]]\nname = \"x\"\nmatch = '0'\n");
    if (kind != QLatin1String("text")) {
        path = dir.filePath(kind);
        QVERIFY(kind == QLatin1String("fifo")
                    ? ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0
                    : QFile::link(QStringLiteral("/dev/zero"), path));
    }
    run.setEnvironment(QStringLiteral("PEERTEST_RULES"), path);
    QVERIFY(run.start({QString::number(FreePort())}));
    QVERIFY(run.process().waitForFinished(10000));

    QCOMPARE(run.process().exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(run.process().readAllStandardError());
    QVERIFY2(errors.contains(QStringLiteral(" Rules Err: ") + path + where), qPrintable(errors));
}

// The window's UDP receiver answers each datagram to its sender, shows the answer as the display
// says, and takes an edit of the rules file while it runs.
void TestRulesReceiver::windowUdpAnswersInTheCurrentDisplayAndFollowsAnEdit()
{
    QTemporaryDir dir;
    const QString path = WriteRules(dir, "[[rule]]\nname = \"ping\"\nreply = '\"PONG\"'\n");
    qputenv("PEERTEST_RULES", QFile::encodeName(path));
    WindowFixture f(QStringLiteral("UDP"));
    qunsetenv("PEERTEST_RULES");
    const quint16 port = f.openReceiver();
    QUdpSocket peer;
    QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
    f.ui().Option2->setChecked(true);
    peer.writeDatagram("ping", QHostAddress::LocalHost, port);
    QTRY_VERIFY(peer.hasPendingDatagrams());
    QCOMPARE(peer.receiveDatagram().data(), QByteArray("PONG"));
    QCOMPARE(f.list2().mid(0, 2), (QStringList{"RCV[ping]", "AUTO[ping]:[PONG]"}));

    QTest::qWait(1100); // a new modification time, even on a coarse file system clock
    WriteRules(dir, "[[rule]]\nname = \"ping\"\nreply = '\"PONG 2\"'\n");
    QVERIFY(QTest::qWaitFor(
        [&] {
            peer.writeDatagram("ping", QHostAddress::LocalHost, port);
            return QTest::qWaitFor([&] { return peer.hasPendingDatagrams(); }, 200) &&
                   peer.receiveDatagram().data() == "PONG 2";
        },
        4000));
    f.ui().cmdEnd->click();
    QVERIFY(f.sandbox.lines(QStringLiteral("24.LOG")).constLast().contains(QStringLiteral("End ")));
    QVERIFY(f.list2().constLast().startsWith(QStringLiteral("RULES: ping ")));
}

// A peer that sends its request and at once shuts its sending side still reads the answer: each
// AUTO line in the record stands for an answer the peer got.
void TestRulesReceiver::windowTcpAnswersPeersThatHalfClose()
{
    constexpr int kPeers = 20;
    QTemporaryDir dir;
    const QString path = WriteRules(dir, "[[rule]]\nname = \"ping\"\nmatch = '\"PING\\r\\n\"'\n"
                                         "reply = '\"PONG\\r\\n\"'\n");
    qputenv("PEERTEST_RULES", QFile::encodeName(path));
    WindowFixture f;
    qunsetenv("PEERTEST_RULES");
    const quint16 port = f.openReceiver();
    int answered = 0;
    for (int i = 0; i < kPeers; ++i) {
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(peer.waitForConnected(5000));
        peer.write("PING\r\n");
        QVERIFY(peer.waitForBytesWritten(1000));
        QCOMPARE(::shutdown(int(peer.socketDescriptor()), SHUT_WR), 0);
        answered += ReadUntil(peer, 6) == "PONG\r\n" ? 1 : 0;
    }
    f.ui().cmdEnd->click();

    QCOMPARE(answered, kPeers);
    QCOMPARE(Messages(f.sandbox.lines(QStringLiteral("24.LOG")))
                 .filter(QStringLiteral("AUTO[ping]:[504F4E470D0A]"))
                 .size(),
             kPeers);
}

QTEST_MAIN(TestRulesReceiver)
#include "tst_rules_receiver.moc"

// peertest-cli as a process: its subcommands against a serve of its own and against the test's
// own loopback peers, their exit statuses, the JUnit report and a hundred peers at once.
#include "clisupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <QXmlStreamReader>

#include <csignal>
#include <sys/stat.h>

namespace {

const QByteArray kRules = R"(
[[rule]]
name = "ping"
match = '"PING" {n:*} "\r\n"'
reply = '"PONG " {n} "\r\n"'

[[rule]]
name = "slow"
match = '"SLOW\r\n"'
reply = '"LATE\r\n"'
delay = "300ms"

[[rule]]
name = "quiet"
match = '"QUIET\r\n"'
)";

// The test's own TCP peer for scripts: "LOGIN\r\n" gets a session id of this connection's own,
// "GET <id>\r\n" gets "DATA\r\n" for that id or for 9999, anything else "ERR\r\n".
class SessionPeer : public QObject {
public:
    SessionPeer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server_.nextPendingConnection();
            const QByteArray id = QByteArray::number(1000 + ++connections);
            connect(socket, &QTcpSocket::readyRead, socket, [socket, id] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine();
                    if (line == "LOGIN\r\n")
                        socket->write("SESSION " + id + "\r\n");
                    else if (line == "GET " + id + "\r\n" || line == "GET 9999\r\n")
                        socket->write("DATA\r\n");
                    else
                        socket->write("ERR\r\n");
                }
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }
    int connections = 0;

private:
    QTcpServer server_;
};

} // namespace

class TestCli : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void exitStatuses_data();
    void exitStatuses();
    void bytesThatAreNotUtf8AreRefused_data();
    void bytesThatAreNotUtf8AreRefused();
    void scriptCapturesOnAKeptConnection();
    void serveAnswersAHundredPeersAtOnce();
    void serveTellsAnUnmatchedDatagram();
    void serveStopsWithHitCounts();

private:
    QString Expand(QString text) const;

    QTemporaryDir dir_;
    QProcess serve_;
    QString tcpPort_;
    QString udpPort_;
};

void TestCli::initTestCase()
{
    WriteFile(dir_.filePath(QStringLiteral("rules.toml")), kRules);
    QVERIFY(::mkfifo(QFile::encodeName(dir_.filePath(QStringLiteral("fifo.toml"))), 0600) == 0);
    QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir_.filePath(QStringLiteral("zero.toml"))));
    static const QRegularExpression ports(
        QStringLiteral("tcp \\[::\\]:(\\d+) listening\\n.* udp \\[::\\]:(\\d+) bound"));
    QString out;
    const QRegularExpressionMatch match = StartServe(
        serve_,
        {dir_.filePath(QStringLiteral("rules.toml")), QStringLiteral("--tcp"), QStringLiteral("0"),
         QStringLiteral("--udp"), QStringLiteral("0"), QStringLiteral("--log"), dir_.path()},
        ports, out);
    QVERIFY2(match.hasMatch(), qPrintable(out));
    tcpPort_ = match.captured(1);
    udpPort_ = match.captured(2);
}

QString TestCli::Expand(QString text) const
{
    return text.replace(QStringLiteral("{tcp}"), tcpPort_)
        .replace(QStringLiteral("{udp}"), udpPort_)
        .replace(QStringLiteral("{dir}"), dir_.path())
        .replace(QStringLiteral("{closed}"), QString::number(ClosedPort(false)))
        .replace(QStringLiteral("{closedudp}"), QString::number(ClosedPort(true)));
}

// Each row: the arguments ({tcp} and {udp} are the serve's ports, {closed} one nothing listens
// on), the exit status, and what standard output and standard error must hold.
void TestCli::exitStatuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString ping = QStringLiteral("\"PING1\\r\\n\"");
    QTest::newRow("answered and matched")
        << QStringList{"send", "tcp://127.0.0.1:{tcp}", ping, "--expect",
                       "\"PONG \" {n:1} \"\\r\\n\""}
        << 0 << "<- tcp 127.0.0.1:{tcp} 504F4E4720310D0A \"PONG 1\\r\\n\" rtt="
        << "";
    QTest::newRow("IPv6, answer alone")
        << QStringList{"send", "tcp://[::1]:{tcp}", "\"PING2\\r\\n\"", "--quiet"} << 0
        << "504F4E4720320D0A\n"
        << "";
    QTest::newRow("UDP waits for a delayed answer")
        << QStringList{"send", "udp://127.0.0.1:{udp}", "\"SLOW\\r\\n\"", "--expect",
                       "\"LATE\\r\\n\""}
        << 0 << "<- udp 127.0.0.1:{udp} 4C4154450D0A"
        << "";
    QTest::newRow("answer does not match")
        << QStringList{"send", "tcp://127.0.0.1:{tcp}", ping, "--expect", "\"PONG 2\""} << 1 << ""
        << "the answer does not match\n  expected: \"PONG 2\"\n  received: 504F4E4720310D0A "
           "\"PONG 1\\r\\n\"\n  first differing offset: 5";
    // {counter} in an expectation is the number of the send it answers, nothing else.
    QTest::newRow("the counter sent comes back") << QStringList{"send",
                                                                "tcp://127.0.0.1:{tcp}",
                                                                "\"PING\" {counter} \"\\r\\n\"",
                                                                "--repeat",
                                                                "2",
                                                                "--expect",
                                                                "\"PONG \" {counter} \"\\r\\n\""}
                                                 << 0 << "\"PONG 2\\r\\n\" rtt="
                                                 << "";
    // Told as soon as the answer parts from the number sent, not when the time is up.
    QTest::newRow("another number comes back")
        << QStringList{"send",
                       "tcp://127.0.0.1:{tcp}",
                       "\"PING7\\r\\n\"",
                       "--timeout",
                       "30s",
                       "--expect",
                       "\"PONG \" {counter} \"\\r\\n\""}
        << 1 << ""
        << "the answer does not match\n  expected: \"PONG \" {counter} \"\\r\\n\"\n  received: "
           "504F4E4720370D0A \"PONG 7\\r\\n\"\n  first differing offset: 5";
    QTest::newRow("no answer in time")
        << QStringList{"send", "tcp://127.0.0.1:{tcp}", "\"QUIET\\r\\n\"", "--timeout", "200ms"}
        << 1 << ""
        << "no answer within 200ms";
    QTest::newRow("payload wrong")
        << QStringList{"send", "tcp://127.0.0.1:{tcp}", "01 \"PING"} << 2 << ""
        << "PAYLOAD, column 4: the quoted text has no closing '\"'";
    // Sending the 65,536 bytes it stops at would pass off another payload as this one.
    QTest::newRow("payload cut short")
        << QStringList{"send", "tcp://127.0.0.1:{tcp}", "{repeat 70000}( 00 )"} << 2 << ""
        << "not sent: the payload stops at 65536 bytes: repeat 70000 goes over 65,536";
    QTest::newRow("payload cut short at a later send")
        << QStringList{"send", "tcp://127.0.0.1:{tcp}",
                       "\"PING1\\r\\n\" {repeat (counter - 1) * 70000}( 00 )", "--repeat", "2"}
        << 1 << ""
        << "not sent: the payload stops at 65543 bytes: repeat 70000 goes over 65,536";
    QTest::newRow("run: a payload cut short, no connection")
        << QStringList{"run", "{dir}/cut_script.toml"} << 1
        << "FAIL a: step 1 (line 4): not sent: the payload stops at 65536 bytes"
        << "";
    QTest::newRow("target wrong") << QStringList{"send", "tcp://127.0.0.1", "01"} << 2 << ""
                                  << "is not a target";
    QTest::newRow("TCP refused") << QStringList{"send", "tcp://127.0.0.1:{closed}", "01"} << 3 << ""
                                 << "Connection refused";
    QTest::newRow("UDP port closed")
        << QStringList{"send", "udp://127.0.0.1:{closedudp}", "01"} << 3 << ""
        << "nothing answers there";
    QTest::newRow("serve: port taken")
        << QStringList{"serve", "{dir}/rules.toml", "--tcp", "{tcp}", "--log", "{dir}"} << 3 << ""
        << "tcp port {tcp}";
    QTest::newRow("serve: rules wrong")
        << QStringList{"serve", "{dir}/bad.toml", "--tcp", "0"} << 2 << ""
        << "{dir}/bad.toml:3:10: hex digits come in pairs";
    QTest::newRow("serve: help, nothing served")
        << QStringList{"serve", "--help"} << 0 << "Usage: peertest-cli serve [options] RULES"
        << "";
    QTest::newRow("rules: the rule that answers")
        << QStringList{"rules", "{dir}/rules.toml", "--input", "\"PING7\\r\\n\""} << 0
        << "rule: ping\nrequest: 50494E47370D0A \"PING7\\r\\n\"\nreply: 504F4E4720370D0A"
        << "";
    // The rule that agrees with the longest start of the input, whichever comes first in the file.
    QTest::newRow("rules: no rule answers, the first rule closest")
        << QStringList{"rules", "{dir}/rules.toml", "--input", "\"PONG\""} << 1
        << "no rule answers it; closest: \"ping\", which parts at byte 1 (expected 49, got 4F)\n"
        << "";
    QTest::newRow("rules: no rule answers, a later rule closest")
        << QStringList{"rules", "{dir}/rules.toml", "--input", "\"QUIT\\r\\n\""} << 1
        << "no rule answers it; closest: \"quiet\", which parts at byte 3 (expected 45, got 54)\n"
        << "";
    QTest::newRow("rules: a reply cut short is told")
        << QStringList{"rules", "{dir}/cut.toml", "--input", "01"} << 0
        << "Rules Err: rule \"big\": its reply was cut short at 65536 bytes: repeat 70000 goes "
           "over 65,536.\n"
        << "";
    QTest::newRow("rules: a set cut short is told")
        << QStringList{"rules", "{dir}/cut.toml", "--input", "02"} << 0
        << "Rules Err: rule \"many\": its set stopped short: repeat 70000 goes over 65,536.\n"
        << "";
    QTest::newRow("rules: no rule answers yet")
        << QStringList{"rules", "{dir}/rules.toml", "--input", "\"SLO\""} << 1
        << "no rule answers it; closest: \"slow\", which agrees with all 3 bytes but wants more\n"
        << "";
    // Neither a FIFO nor a device is read: one would block, the other never end.
    for (const char* kind : {"fifo", "zero"}) {
        const QString path = QStringLiteral("{dir}/%1.toml").arg(QLatin1String(kind));
        const QString why = path + QStringLiteral(":1:1: Not a regular file");
        QTest::addRow("serve: rules a %s", kind)
            << QStringList{"serve", path, "--tcp", "0"} << 2 << "" << why;
        QTest::addRow("rules: a %s", kind) << QStringList{"rules", path} << 2 << "" << why;
        QTest::addRow("run: script a %s", kind) << QStringList{"run", path} << 2 << "" << why;
    }
    QTest::newRow("run: a value nothing sets")
        << QStringList{"run", "{dir}/unset.toml", "--var", "sid=\"1\""} << 2 << ""
        << "{dir}/unset.toml:4:19: unknown name \"session\": nothing sets it before it is used";
}

void TestCli::exitStatuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    WriteFile(dir_.filePath(QStringLiteral("bad.toml")), "[[rule]]\nname = \"a\"\nmatch = '0'\n");
    WriteFile(dir_.filePath(QStringLiteral("cut_script.toml")),
              "target = \"tcp://127.0.0.1:1\"\n[[test]]\nname = \"a\"\n"
              "send = '{repeat 70000}( 00 )'\nexpect = '00'\n");
    WriteFile(dir_.filePath(QStringLiteral("cut.toml")),
              "[state]\nt = []\n[[rule]]\nname = \"big\"\nmatch = '01'\n"
              "reply = '{repeat 70000}( 00 )'\n[[rule]]\nname = \"many\"\nmatch = '02'\n"
              "set = 'repeat 70000: t[index] = 1'\n");
    WriteFile(dir_.filePath(QStringLiteral("unset.toml")),
              "target = \"tcp://127.0.0.1:1\"\n[[test]]\nname = \"a\"\nsend = '\"X\" {sid} "
              "{session}'\nexpect = '00'\n");
    for (QString& argument : arguments)
        argument = Expand(argument);
    const Finished run = RunCli(arguments);
    QVERIFY2(run.out.contains(Expand(out)), qPrintable(run.out));
    QVERIFY2(run.err.contains(Expand(err)), qPrintable(run.err));
    QCOMPARE(run.status, status);
}

// Qt would read 0xFF as U+FFFD and send or write its three UTF-8 bytes instead: another payload,
// another folder. Each script gets the serve's TCP port and a folder of its own.
void TestCli::bytesThatAreNotUtf8AreRefused_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("err");
    const QString send = QStringLiteral("exec \"$0\" send \"tcp://127.0.0.1:$1\" ");
    QTest::newRow("payload") << send + "\"\\\"$ff\\\"\""
                             << "argument 3 is not UTF-8 text: \"\\xFF\"";
    QTest::newRow("--log") << send + "01 --log \"$2/ff-log$ff\""
                           << "argument 5 is not UTF-8 text: {folder}/ff-log\\xFF";
    QTest::newRow("PEERTEST_LOG_DIR") << "PEERTEST_LOG_DIR=\"$2/ff-log$ff\" " + send + "01"
                                      << "PEERTEST_LOG_DIR is not UTF-8 text: {folder}/ff-log\\xFF";
    QTest::newRow("PEERTEST_CAPTURE") << "PEERTEST_CAPTURE=\"$2/ff-log$ff\" " + send + "01"
                                      << "PEERTEST_CAPTURE is not UTF-8 text: {folder}/ff-log\\xFF";
}

void TestCli::bytesThatAreNotUtf8AreRefused()
{
    QFETCH(QString, script);
    QFETCH(QString, err);
    QTemporaryDir folder;
    const Finished run = RunCli({tcpPort_, folder.path()}, script);
    QVERIFY2(run.err.contains(QString(err).replace(QStringLiteral("{folder}"), folder.path())),
             qPrintable(run.err));
    QCOMPARE(run.status, 2);
    QCOMPARE(run.out, QString()); // nothing sent
    QCOMPARE(QDir(folder.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

void TestCli::scriptCapturesOnAKeptConnection()
{
    SessionPeer peer;
    const QString script = dir_.filePath(QStringLiteral("script.toml"));
    const QString report = dir_.filePath(QStringLiteral("report.xml"));
    WriteFile(script, QStringLiteral(R"(target = "tcp://127.0.0.1:%1"
timeout = "1s"

[[test]]
name = "login then get"
steps = [
  { send = '"LOGIN\r\n"' },
  { expect = '"SESSION " {session:4} "\r\n"' },
  { send = '"GET " {session} "\r\n"' },
  { expect = '"DATA\r\n"', timeout = "500ms" },
]

[[test]]
name = "value from the command line"
send = '"GET " {token} "\r\n"'
expect = '"DATA\r\n"'

[[test]]
name = "wrong answer"
send = '"HELLO\r\n"'
expect = '"HI\r\n"'
)")
                          .arg(peer.port())
                          .toUtf8());
    const Finished run =
        RunCli({QStringLiteral("run"), script, QStringLiteral("--var"),
                QStringLiteral("token=\"9999\""), QStringLiteral("--junit"), report});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.out.endsWith(QStringLiteral("2 passed, 1 failed\n")), qPrintable(run.out));
    QCOMPARE(peer.connections, 3); // the steps kept theirs

    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QStringList cases;
    QString failure;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("testsuite"))
            QCOMPARE(xml.attributes().value(QStringLiteral("failures")), QStringLiteral("1"));
        else if (xml.name() == QLatin1String("testcase"))
            cases << xml.attributes().value(QStringLiteral("name")).toString();
        else if (xml.name() == QLatin1String("failure"))
            failure = xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(cases, (QStringList{"login then get", "value from the command line", "wrong answer"}));
    QVERIFY2(failure.contains(QStringLiteral("expected: \"HI\\r\\n\"\n"
                                             "received: 4552520D0A \"ERR\\r\\n\"\n"
                                             "first differing offset: 0")),
             qPrintable(failure));
}

void TestCli::serveAnswersAHundredPeersAtOnce()
{
    constexpr int kPeers = 100;
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    for (int i = 0; i < kPeers; ++i) {
        peers.push_back(std::make_unique<QTcpSocket>());
        peers.back()->connectToHost(QHostAddress::LocalHost, tcpPort_.toUShort());
    }
    QVERIFY(QTest::qWaitFor(
        [&] {
            return std::all_of(peers.begin(), peers.end(), [](const auto& peer) {
                return peer->state() == QAbstractSocket::ConnectedState;
            });
        },
        10000));
    for (int i = 0; i < kPeers; ++i)
        peers[size_t(i)]->write("PING" + QByteArray::number(i) + "\r\n");
    const auto answered = [&](int i) {
        return peers[size_t(i)]->peek(64) == "PONG " + QByteArray::number(i) + "\r\n";
    };
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (int i = 0; i < kPeers; ++i) {
                if (!answered(i))
                    return false;
            }
            return true;
        },
        10000));
    // The day log names each peer as it connects.
    QFile log(dir_.filePath(QDate::currentDate().toString(QStringLiteral("dd")) +
                            QStringLiteral(".LOG")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    for (const auto& peer : peers)
        QVERIFY(text.contains(" 127.0.0.1:" + QByteArray::number(peer->localPort()) + "\r\n"));
}

// As unmatched TCP bytes are: in the transcript and the day log, counted in bytes.
void TestCli::serveTellsAnUnmatchedDatagram()
{
    QUdpSocket peer;
    peer.writeDatagram("HELLO", QHostAddress::LocalHost, udpPort_.toUShort());
    QString out;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     out += QString::fromUtf8(serve_.readAllStandardOutput());
                     return out.contains(QStringLiteral("UNMATCHED[5]"));
                 },
                 5000),
             qPrintable(out));
    QFile log(dir_.filePath(QDate::currentDate().toString(QStringLiteral("dd")) +
                            QStringLiteral(".LOG")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("UNMATCHED[5]"));
}

void TestCli::serveStopsWithHitCounts()
{
    ::kill(pid_t(serve_.processId()), SIGTERM);
    QVERIFY(serve_.waitForFinished(10000));
    QCOMPARE(serve_.exitStatus(), QProcess::NormalExit);
    QCOMPARE(serve_.exitCode(), 0);
    const QString out = QString::fromUtf8(serve_.readAllStandardOutput());
    QVERIFY2(out.contains(QRegularExpression(
                 QStringLiteral("RULES: ping [1-9][0-9]{2}, slow 1, quiet 1, \\(none\\) 1\n$"))),
             qPrintable(out.right(300)));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"

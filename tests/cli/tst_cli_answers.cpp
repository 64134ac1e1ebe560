// peertest-cli as a process against a loopback peer whose answers are long: how a failure
// shows them, and the limit of what is read for an expectation.
#include "clisupport.h"

#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

// Answers "BIG\r\n" with 100,000 bytes, all "A" but a "B" at offset 50,000, and "HUGE\r\n"
// with 1.2 MiB of "A", which never ends a line.
class LongAnswerPeer : public QObject {
public:
    LongAnswerPeer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* socket = server_.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                while (socket->canReadLine()) {
                    const QByteArray line = socket->readLine();
                    if (line == "BIG\r\n")
                        socket->write(QByteArray(50000, 'A') + 'B' + QByteArray(49999, 'A'));
                    else if (line == "HUGE\r\n")
                        socket->write(QByteArray(1200 * 1024, 'A'));
                }
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    QTcpServer server_;
};

qsizetype LongestLine(const QString& text)
{
    qsizetype longest = 0;
    for (const QStringView line : QStringView(text).split(u'\n'))
        longest = std::max(longest, line.size());
    return longest;
}

} // namespace

class TestCliAnswers : public QObject {
    Q_OBJECT
private slots:
    void longAnswersShortened_data();
    void longAnswersShortened();

private:
    QTemporaryDir dir_;
};

// Each row: the arguments ({big} is a LongAnswerPeer's port), whether the JUnit report is
// looked at rather than standard error, what that must match and must not hold, and at most how
// long it and each transcript line may be (-1: no bound; then it must be over 100,000).
void TestCliAnswers::longAnswersShortened_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("report");
    QTest::addColumn<QString>("holds");
    QTest::addColumn<QString>("lacks");
    QTest::addColumn<int>("most");
    const QString expectB = QStringLiteral("{x:50000} \"A\"");
    const QString shortened =
        QStringLiteral("received: \\d{5,} bytes, shortened \\(--full shows all\\): \\[0\\] 4141.* "
                       "\\.\\.\\. \\[49992\\] 4141414141414141424141.*AAAAAAAABAAA");
    QTest::newRow("send") << QStringList{"send", "tcp://127.0.0.1:{big}", "\"BIG\\r\\n\"",
                                         "--expect", expectB}
                          << false << shortened + "[^\\n]*\\n  first differing offset: 50000"
                          << "" << 1000;
    QTest::newRow("send --full") << QStringList{"send",          "tcp://127.0.0.1:{big}",
                                                "\"BIG\\r\\n\"", "--expect",
                                                expectB,         "--full"}
                                 << false << "received: (?:41){1000}"
                                 << "shortened" << -1;
    QTest::newRow("run, JUnit") << QStringList{"run", "{dir}/big.toml", "--junit", "{dir}/big.xml"}
                                << true << shortened << "" << 2000;
    QTest::newRow("send, 1 MiB limit")
        << QStringList{"send", "tcp://127.0.0.1:{big}", "\"HUGE\\r\\n\"", "--expect",
                       "\"A\" * \"\\r\\n\""}
        << false
        << "the answer reached the 1 MiB limit before the pattern matched\n.*\n  received: "
           "\\d{7} bytes, shortened"
        << "first differing offset" << 1000;
}

// A long answer that fails is shown by its ends and the bytes around its first difference, in
// the message, the report and the transcript, unless --full; one that reaches the 1 MiB limit
// says so rather than naming an offset the pattern's "*" would have taken.
void TestCliAnswers::longAnswersShortened()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, report);
    QFETCH(QString, holds);
    QFETCH(QString, lacks);
    QFETCH(int, most);
    LongAnswerPeer peer;
    const QString big = QString::number(peer.port());
    WriteFile(dir_.filePath(QStringLiteral("big.toml")),
              QStringLiteral("target = \"tcp://127.0.0.1:%1\"\n[[test]]\nname = \"big\"\n"
                             "send = '\"BIG\\r\\n\"'\nexpect = '{x:50000} \"A\"'\n")
                  .arg(big)
                  .toUtf8());
    for (QString& argument : arguments)
        argument.replace(QStringLiteral("{dir}"), dir_.path())
            .replace(QStringLiteral("{big}"), big);
    const Finished run = RunCli(arguments);
    QCOMPARE(run.status, 1);
    QString text = run.err;
    if (report) {
        QFile file(dir_.filePath(QStringLiteral("big.xml")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        text = QString::fromUtf8(file.readAll());
    }
    QVERIFY2(text.contains(QRegularExpression(holds)), qPrintable(text.left(2000)));
    QVERIFY2(lacks.isEmpty() || !text.contains(lacks), qPrintable(text.left(2000)));
    if (most < 0) {
        QVERIFY(text.size() > 100000);
    } else {
        QVERIFY2(text.size() < most, qPrintable(text.left(2000)));
        QVERIFY2(LongestLine(run.out) < 1000, qPrintable(run.out.left(2000)));
    }
}

QTEST_GUILESS_MAIN(TestCliAnswers)
#include "tst_cli_answers.moc"

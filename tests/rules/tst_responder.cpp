#include "rules/responder.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

RuleSet Rules(const QByteArray& text)
{
    RulesLoad load = ParseRulesText(text, "test.toml");
    if (!load.rules)
        qFatal("%s", qPrintable(load.errors.join('\n')));
    return std::move(*load.rules);
}

QList<QByteArray> Replies(const std::vector<Answer>& answers)
{
    QList<QByteArray> replies;
    for (const Answer& answer : answers)
        replies << answer.reply.value_or("(none)");
    return replies;
}

const QByteArray kPing = R"(
[[rule]]
name = "ping"
match = '"PING" {n:*} "\r\n"'
reply = '"PONG " {n} " " {counter} "\r\n"'
)";

} // namespace

class TestResponder : public QObject {
    Q_OBJECT
private slots:
    void stream_data();
    void stream();
    void datagrams_data();
    void datagrams();
    void modbus();
    void unconsumedIsBounded();
    void checksumsInRepeatsAreBounded();
    void stateTablesAreBounded();
    void closeEndsTheAnswers();
    void summaryAndReload();
    void overLimitNoticedOnce();
    void debtLeavesRequestsForSettle();
};

void TestResponder::stream_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<int>>("answersPerRead");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::newRow("split across reads") << QList<QByteArray>{"PIN", "G1\r", "\n"}
                                        << QList<int>{0, 0, 1} << QList<QByteArray>{"PONG 1 1\r\n"};
    QTest::newRow("two in one read") << QList<QByteArray>{"PING1\r\nPING22\r\n"} << QList<int>{2}
                                     << QList<QByteArray>{"PONG 1 1\r\n", "PONG 22 2\r\n"};
    QTest::newRow("end of one and start of next")
        << QList<QByteArray>{"PING1", "\r\nPI", "NG2\r\n"} << QList<int>{0, 1, 1}
        << QList<QByteArray>{"PONG 1 1\r\n", "PONG 2 2\r\n"};
    QTest::newRow("junk first waits for idle")
        << QList<QByteArray>{"xPING1\r\n"} << QList<int>{0} << QList<QByteArray>{};
}

void TestResponder::stream()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<int>, answersPerRead);
    QFETCH(QList<QByteArray>, replies);
    Responder responder(Rules(kPing));
    Conversation conversation = responder.Converse(QHostAddress::LocalHost, 5000);
    std::vector<Answer> answers;
    for (int i = 0; i < reads.size(); ++i) {
        Conversation::Fed fed = conversation.Feed(reads[i]);
        QCOMPARE(int(fed.answers.size()), answersPerRead[i]);
        answers.insert(answers.end(), fed.answers.begin(), fed.answers.end());
    }
    QCOMPARE(Replies(answers), replies);
    qsizetype taken = 0;
    for (const Answer& answer : answers)
        taken += answer.request.size();
    QCOMPARE(taken + conversation.Unconsumed(), reads.join().size());
}

// Each row: rules, the datagrams sent in order from one peer, the reply to each.
void TestResponder::datagrams_data()
{
    QTest::addColumn<QByteArray>("rules");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<QList<QByteArray>>("replies");
    QTest::newRow("echo and counter")
        << QByteArray("[[rule]]\nname = \"e\"\nreply = '{echo} \":\" {counter}'\n") << "10.0.0.1"
        << QList<QByteArray>{"ab", "c"} << QList<QByteArray>{"ab:1", "c:2"};
    QTest::newRow("counter as bytes")
        << QByteArray("[[rule]]\nname = \"c\"\nreply = 'AA {counter:2}'\n") << "10.0.0.1"
        << QList<QByteArray>{"x", "y"}
        << QList<QByteArray>{QByteArray::fromHex("AA0001"), QByteArray::fromHex("AA0002")};
    QTest::newRow("replies in turn")
        << QByteArray("[[rule]]\nname = \"t\"\nreply = ['\"a\"', '\"b\"']\n") << "10.0.0.1"
        << QList<QByteArray>{"1", "2", "3"} << QList<QByteArray>{"a", "b", "a"};
    QTest::newRow("capture and group reused")
        << QByteArray("[[rule]]\nname = \"r\"\nmatch = '{id:2} re\"=([0-9]+)\"'\nreply = '{1} "
                      "\"@\" {id}'\n")
        << "10.0.0.1" << QList<QByteArray>{"ab=42", "ab=x"} << QList<QByteArray>{"42@ab", "(none)"};
    QTest::newRow("first matching rule answers")
        << QByteArray("[[rule]]\nname = \"a\"\nmatch = '\"A\" *'\nreply = '\"1\"'\n"
                      "[[rule]]\nname = \"b\"\nmatch = '*'\nreply = '\"2\"'\n")
        << "10.0.0.1" << QList<QByteArray>{"AB", "BA"} << QList<QByteArray>{"1", "2"};
    QTest::newRow("fixed bytes are the whole datagram")
        << QByteArray("[[rule]]\nname = \"p\"\nmatch = '\"PING\"'\nreply = '\"1\"'\n"
                      "[[rule]]\nname = \"q\"\nmatch = '\"PING\" *'\nreply = '\"2\"'\n")
        << "10.0.0.1" << QList<QByteArray>{"PING", "PINGS", "PIN"}
        << QList<QByteArray>{"1", "2", "(none)"};
    QTest::newRow("length field a checksum reads")
        << QByteArray("[[rule]]\nname = \"l\"\nreply = '01 {len:1}( 02 03 {sum8} )'\n")
        << "10.0.0.1" << QList<QByteArray>{"x"}
        << QList<QByteArray>{QByteArray::fromHex("0103020309")};
    QTest::newRow("repeats, the inner index shadowing")
        << QByteArray("[[rule]]\nname = \"r\"\nreply = '{repeat 2}( {repeat 3}( {index:1} ) "
                      "{index + 10:1} )'\n")
        << "10.0.0.1" << QList<QByteArray>{"x"}
        << QList<QByteArray>{QByteArray::fromHex("0001020A0001020B")};
    QTest::newRow("state set, then read")
        << QByteArray("[state]\nn = 5\nt = []\n[[rule]]\nname = \"s\"\nmatch = '{x:1}'\n"
                      "set = ['n = state.n + x', 't[x] = counter']\n"
                      "reply = '{state.n:2le} {state.t[x]:1} {state.t[9]:1}'\n")
        << "10.0.0.1" << QList<QByteArray>{"\x01", "\x02"}
        << QList<QByteArray>{QByteArray::fromHex("06000100"), QByteArray::fromHex("08000200")};
    QTest::newRow("swallowed") << QByteArray("[[rule]]\nname = \"s\"\n") << "10.0.0.1"
                               << QList<QByteArray>{"x"} << QList<QByteArray>{"(none)"};
    QTest::newRow("tcp only") << QByteArray(
                                     "[[rule]]\nname = \"t\"\nproto = \"tcp\"\nreply = '01'\n")
                              << "10.0.0.1" << QList<QByteArray>{"x"}
                              << QList<QByteArray>{"(none)"};
    QTest::newRow("mapped IPv4 peer in range")
        << QByteArray("[[rule]]\nname = \"f\"\nfrom = \"10.0.0.0/8\"\nreply = '01'\n")
        << "::ffff:10.9.9.9" << QList<QByteArray>{"x"} << QList<QByteArray>{"\x01"};
    QTest::newRow("peer out of range")
        << QByteArray("[[rule]]\nname = \"f\"\nfrom = \"10.0.0.0/8\"\nreply = '01'\n") << "11.0.0.1"
        << QList<QByteArray>{"x"} << QList<QByteArray>{"(none)"};
}

void TestResponder::datagrams()
{
    QFETCH(QByteArray, rules);
    QFETCH(QString, peer);
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QList<QByteArray>, replies);
    Responder responder(Rules(rules));
    std::vector<Answer> answers;
    for (const QByteArray& datagram : datagrams)
        answers.push_back(responder.AnswerDatagram(datagram, QHostAddress(peer), 5000));
    QCOMPARE(Replies(answers), replies);
}

// Read Holding Registers: the request's CRC is checked, the reply's computed.
void TestResponder::modbus()
{
    Responder responder(Rules(R"(
[[rule]]
name = "read"
match = "01 03 00 00 00 02 {crc16_modbus}"
reply = "01 03 04 00 2A 00 2B {crc16_modbus}"
delay = "20ms"
)"));
    const QByteArray request = QByteArray::fromHex("010300000002C40B");
    const QByteArray reply = QByteArray::fromHex("010304002A002B9BE4");
    Answer answer = responder.AnswerDatagram(request, QHostAddress::LocalHost, 502);
    QCOMPARE(answer.reply.value_or("(none)"), reply);
    QCOMPARE(answer.delay.count(), 20);
    QVERIFY(
        !responder
             .AnswerDatagram(QByteArray::fromHex("010300000002C40C"), QHostAddress::LocalHost, 502)
             .matched());

    Conversation conversation = responder.Converse(QHostAddress::LocalHost, 502);
    const Conversation::Fed fed = conversation.Feed(request + request.left(3));
    QCOMPARE(Replies(fed.answers), QList<QByteArray>{reply});
    QCOMPARE(conversation.Unconsumed(), 3);
}

// Each checksum reads the whole reply before it, and its length group is rendered twice: found by
// the fuzzer, it ran for hours.
void TestResponder::checksumsInRepeatsAreBounded()
{
    Responder responder(Rules("[[rule]]\nname = \"r\"\n"
                              "reply = '{repeat 65536}( {len:1}( 01 {sum8} ) )'\n"));
    QElapsedTimer clock;
    clock.start();
    const Answer answer = responder.AnswerDatagram("x", QHostAddress::LocalHost, 5000);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(answer.reply && answer.reply->startsWith(QByteArray::fromHex("020103")));
    const QString told = QStringLiteral("Rules Err: rule \"r\": its reply was cut short at %1 "
                                        "bytes: rendering it went over its work limit.")
                             .arg(answer.reply->size());
    QCOMPARE(responder.TakeNotices(), QStringList{told});
    responder.AnswerDatagram("x", QHostAddress::LocalHost, 5000);
    QCOMPARE(responder.TakeNotices(), QStringList()); // once a rule, not once a request
}

// Each request stores 65,536 new indexes: the seventeenth finds the table full, and the indexes
// it held keep their values.
void TestResponder::stateTablesAreBounded()
{
    Responder responder(Rules("[state]\nt = []\n[[rule]]\nname = \"w\"\n"
                              "set = 'repeat 65536: t[counter * 65536 + index] = counter'\n"
                              "reply = '{state.t[65536]:1} {state.t[1114112]:1}'\n"));
    const int filling = int(StandInState::kMostEntries / 65536);
    for (int request = 0; request < filling; ++request)
        responder.AnswerDatagram("x", QHostAddress::LocalHost, 5000);
    QCOMPARE(responder.TakeNotices(), QStringList());
    const Answer answer = responder.AnswerDatagram("x", QHostAddress::LocalHost, 5000);
    QCOMPARE(*answer.reply, QByteArray::fromHex("0100"));
    QCOMPARE(responder.TakeNotices(),
             QStringList{"Rules Err: rule \"w\": its set stopped short: table t holds 1048576 "
                         "entries, the most it may."});
}

void TestResponder::unconsumedIsBounded()
{
    Responder responder(Rules("[[rule]]\nname = \"ab\"\nmatch = '\"AB\"'\nreply = '01'\n"));
    Conversation conversation = responder.Converse(QHostAddress::LocalHost, 5000);
    // Requests beyond the bound in one read are still answered: room is made as they are taken.
    const qsizetype pairs = Conversation::kMaxUnconsumed / 2 + 10;
    Conversation::Fed fed = conversation.Feed(QByteArray("AB").repeated(pairs));
    QCOMPARE(qsizetype(fed.answers.size()), pairs);
    QCOMPARE(fed.overflow, 0);

    fed = conversation.Feed(QByteArray(Conversation::kMaxUnconsumed + 10, 'x'));
    QCOMPARE(fed.answers.size(), size_t(0));
    QCOMPARE(fed.overflow, 10);
    QCOMPARE(conversation.Unconsumed(), Conversation::kMaxUnconsumed);
    QCOMPARE(conversation.DropUnconsumed(), Conversation::kMaxUnconsumed);
    QCOMPARE(conversation.UnmatchedBytes(), quint64(Conversation::kMaxUnconsumed + 10));
    QCOMPARE(responder.Unmatched(), quint64(2));
}

void TestResponder::closeEndsTheAnswers()
{
    Responder responder(
        Rules("[[rule]]\nname = \"bye\"\nmatch = '\"Q\"'\nreply = '\"B\"'\nclose = true\n"));
    Conversation conversation = responder.Converse(QHostAddress::LocalHost, 5000);
    const Conversation::Fed fed = conversation.Feed("QQ");
    QCOMPARE(Replies(fed.answers), QList<QByteArray>{"B"});
    QVERIFY(fed.answers.front().close);
    QVERIFY(conversation.Feed("Q").answers.empty());
    QCOMPARE(responder.SummaryLine(), QString("RULES: bye 1, (none) 0"));
}

void TestResponder::summaryAndReload()
{
    Responder responder(
        Rules("[[rule]]\nname = \"a\"\nmatch = '\"A\"'\nreply = ['\"1\"', '\"2\"']\n"
              "[[rule]]\nname = \"b\"\nmatch = '\"B\"'\n"));
    Conversation conversation = responder.Converse(QHostAddress::LocalHost, 5000);
    conversation.Feed("AAB");
    responder.AnswerDatagram("C", QHostAddress::LocalHost, 5000);
    conversation.Feed("C");
    QCOMPARE(conversation.DropUnconsumed(), 1);
    QCOMPARE(responder.SummaryLine(), QString("RULES: a 2, b 1, (none) 2"));

    // Rule "a" keeps its count, and so its place among its replies; the connection stays.
    responder.Reload(
        Rules("[[rule]]\nname = \"c\"\nmatch = '\"C\"'\n"
              "[[rule]]\nname = \"a\"\nmatch = '\"A\"'\nreply = ['\"1\"', '\"2\"']\n"));
    const Conversation::Fed fed = conversation.Feed("AC");
    QCOMPARE(Replies(fed.answers), (QList<QByteArray>{"1", "(none)"}));
    QCOMPARE(responder.SummaryLine(), QString("RULES: c 1, a 3, (none) 2"));

    // A stand-in's state lives through reloads: a name kept keeps its value.
    const QByteArray counting = "[state]\nn = 0\nt = [7]\n[[rule]]\nname = \"n\"\n"
                                "set = ['n = state.n + 1', 't[2] = 9']\n";
    responder.Reload(Rules(counting));
    responder.AnswerDatagram("x", QHostAddress::LocalHost, 5000);
    responder.Reload(Rules(QByteArray(counting).replace("n = 0\n", "n = 0\nu = 4\n")));
    responder.Reload(Rules(counting));
    responder.AnswerDatagram("x", QHostAddress::LocalHost, 5000);
    QCOMPARE(responder.SummaryLine(), QString("RULES: n 2, (none) 2; state: n=2, t[0]=7, t[2]=9"));
}

void TestResponder::overLimitNoticedOnce()
{
    Responder responder(Rules(R"(
[[rule]]
name = "slow"
match = 're"(a|a)*c"'
reply = '"1"'
[[rule]]
name = "any"
reply = '"2"'
)"));
    const QByteArray hostile = QByteArray(40, 'a') + "bc";
    QCOMPARE(responder.AnswerDatagram(hostile, QHostAddress::LocalHost, 1).reply.value_or(""),
             QByteArray("2"));
    QCOMPARE(responder.AnswerDatagram(hostile, QHostAddress::LocalHost, 1).reply.value_or(""),
             QByteArray("2"));
    const QStringList notices = responder.TakeNotices();
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.first().startsWith("Rules Err: rule \"slow\":"), qPrintable(notices.first()));
    QVERIFY(responder.TakeNotices().isEmpty());
}

// Two requests an expression backtracks on spend the connection's credit; the request after
// them waits, told with a time to settle, and Settle answers it rather than leaving it to idle.
void TestResponder::debtLeavesRequestsForSettle()
{
    Responder responder(Rules(R"(
[[rule]]
name = "slow"
match = 're"(a|aa)+b"'
reply = '"1"'
[[rule]]
name = "ping"
match = '"PING" {n:*} "\r\n"'
reply = '"PONG\r\n"'
)"));
    Conversation conversation = responder.Converse(QHostAddress::LocalHost, 5000);
    const QByteArray hostile = QByteArray(40, 'a') + "cb";
    for (int i = 0; i < 2; ++i) {
        QVERIFY(conversation.Feed(hostile).answers.empty());
        conversation.DropUnconsumed();
    }
    Conversation::Fed fed = conversation.Feed("PING1\r\n");
    QVERIFY(fed.answers.empty());
    QVERIFY(fed.settleIn);
    QCOMPARE(Replies(conversation.Settle().answers), QList<QByteArray>{"PONG\r\n"});
    QCOMPARE(conversation.Unconsumed(), 0);
    QVERIFY(!conversation.Settle().settleIn);
}

QTEST_APPLESS_MAIN(TestResponder)
#include "tst_responder.moc"

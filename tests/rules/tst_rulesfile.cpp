#include "rules/rulesfile.h"

#include <QTest>

class TestRulesFile : public QObject {
    Q_OBJECT
private slots:
    void errors_data();
    void errors();
    void missingFile();
    void values();
    void durations_data();
    void durations();
};

// Each row: a rules text, and the start of the first error it gives.
void TestRulesFile::errors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("TOML syntax") << QByteArray("idle = \"200ms\"\n[[rule]\n") << "r.toml:2:8: ";
    QTest::newRow("unknown top-level key")
        << QByteArray("idel = \"1s\"\n") << "r.toml:1:1: unknown key \"idel\"";
    QTest::newRow("unknown rule key") << QByteArray("[[rule]]\nname = \"a\"\n  replay = \"01\"\n")
                                      << "r.toml:3:3: unknown key \"replay\"";
    QTest::newRow("wrong type") << QByteArray("[[rule]]\nname = 5\n")
                                << "r.toml:2:8: name must be text";
    QTest::newRow("rule as a table")
        << QByteArray("[rule]\nname = \"a\"\n") << "r.toml:1:1: rules are written [[rule]]";
    QTest::newRow("no name") << QByteArray("\n[[rule]]\nreply = \"01\"\n")
                             << "r.toml:2:1: the rule has no name";
    QTest::newRow("bad pattern, literal string")
        << QByteArray("[[rule]]\nname = \"a\"\nmatch = '01 0 02'\n")
        << "r.toml:3:13: hex digits come in pairs";
    QTest::newRow("bad pattern after a TOML escape")
        << QByteArray("[[rule]]\nname = \"a\"\nmatch = \"\\\"A\\\" 0\"\n")
        << "r.toml:3:9: hex digits";
    QTest::newRow("unknown checksum in a reply")
        << QByteArray("[[rule]]\nname = \"a\"\nreply = [\"01\", '02 {crc17}']\n")
        << "r.toml:3:20: unknown checksum \"crc17\"";
    QTest::newRow("set of a name not in the state")
        << QByteArray("[state]\nn = 1\n[[rule]]\nname = \"a\"\nset = 'm = 2'\n")
        << "r.toml:5:8: \"m\" is not in the [state] table";
    QTest::newRow("set of a table without an index")
        << QByteArray("[state]\nt = []\n[[rule]]\nname = \"a\"\nset = 't = 2'\n")
        << "r.toml:5:8: \"t\" is a table: write t[INDEX]";
    QTest::newRow("state read that is not declared")
        << QByteArray("[[rule]]\nname = \"a\"\nreply = '{state.x:1}'\n")
        << "r.toml:3:10: unknown name \"state.x\"";
    QTest::newRow("table read as one value")
        << QByteArray("[state]\nt = []\n[[rule]]\nname = \"a\"\nreply = '{state.t:1}'\n")
        << "r.toml:5:10: \"state.t\" is a table: write state.t[INDEX]";
    QTest::newRow("value read as a table, in a set")
        << QByteArray("[state]\nv = 1\n[[rule]]\nname = \"a\"\nset = 'v = state.v[0]'\n")
        << "r.toml:5:12: \"state.v\" is one value, not a table";
    QTest::newRow("capture the match lacks")
        << QByteArray("[[rule]]\nname = \"a\"\nmatch = '{x:1}'\nreply = '{y}'\n")
        << "r.toml:4:10: the match has no capture \"y\"";
    QTest::newRow("group the match lacks")
        << QByteArray("[[rule]]\nname = \"a\"\nmatch = 're\"(a)\"'\nreply = '{2}'\n")
        << "r.toml:4:10: the match has 1 expression groups, not 2";
    QTest::newRow("capture with no match") << QByteArray("[[rule]]\nname = \"a\"\nreply = '{y}'\n")
                                           << "r.toml:3:10: the match has no capture";
    QTest::newRow("duplicate name")
        << QByteArray("[[rule]]\nname = \"a\"\n[[rule]]\nname = \"a\"\n")
        << "r.toml:4:8: the name \"a\" is already used on line 2";
    QTest::newRow("bad duration") << QByteArray("[[rule]]\nname = \"a\"\ndelay = \"20 ms\"\n")
                                  << "r.toml:3:9: \"20 ms\" is not a duration";
    QTest::newRow("bad from") << QByteArray("[[rule]]\nname = \"a\"\nfrom = \"10.1/8\"\n")
                              << "r.toml:3:8: \"10.1\" is not an IPv4";
    QTest::newRow("bad prefix") << QByteArray("[[rule]]\nname = \"a\"\nfrom = \"10.0.0.0/33\"\n")
                                << "r.toml:3:8: \"33\" is not a prefix";
    QTest::newRow("bad proto") << QByteArray("[[rule]]\nname = \"a\"\nproto = \"sctp\"\n")
                               << "r.toml:3:9: proto is";
    QTest::newRow("no templates") << QByteArray("[[rule]]\nname = \"a\"\nreply = []\n")
                                  << "r.toml:3:9: reply needs at least one";
    QTest::newRow("name with a comma")
        << QByteArray("[[rule]]\nname = \"a,b\"\n") << "r.toml:2:8: a rule name";
    QTest::newRow("unknown encoding")
        << QByteArray("encoding = \"latin1\"\n") << "r.toml:1:12: encoding is";
    QTest::newRow("no code in windows-31j")
        << QByteArray("encoding = \"windows-31j\"\n[[rule]]\nname = \"a\"\nreply = '\"x€\"'\n")
        << "r.toml:4:12: '€' cannot be written in windows-31j";
    QTest::newRow("zero idle") << QByteArray("idle = \"0ms\"\n")
                               << "r.toml:1:8: idle must be longer";
}

void TestRulesFile::errors()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    const RulesLoad load = ParseRulesText(text, "r.toml");
    QVERIFY(!load.rules);
    QVERIFY(!load.errors.isEmpty());
    QVERIFY2(load.errors.first().startsWith(error), qPrintable(load.errors.first()));
}

void TestRulesFile::missingFile()
{
    const RulesLoad load = LoadRulesFile("/nonexistent/rules.toml");
    QVERIFY(!load.rules);
    QCOMPARE(load.errors.size(), 1);
    QVERIFY2(load.errors.first().startsWith("/nonexistent/rules.toml:1:1: "),
             qPrintable(load.errors.first()));
}

void TestRulesFile::values()
{
    const RulesLoad load = ParseRulesText(R"(idle = "1.5s"
[[rule]]
name = "only-v4-net"
match = '"A"'
delay = "20ms"
close = true
proto = "tcp"
from = "192.168.0.0/16"
[[rule]]
name = "v6"
from = "fe80::/10"
)",
                                          "r.toml");
    QVERIFY2(load.rules, qPrintable(load.errors.join('\n')));
    QCOMPARE(load.rules->idle.count(), 1500);
    const Rule& first = load.rules->rules.at(0);
    QCOMPARE(first.delay.count(), 20);
    QVERIFY(first.close);
    QVERIFY(first.replies.empty());
    QVERIFY(first.Accepts(Protocol::Tcp, QHostAddress("192.168.7.1")));
    QVERIFY(first.Accepts(Protocol::Tcp, QHostAddress("::ffff:192.168.7.1")));
    QVERIFY(!first.Accepts(Protocol::Udp, QHostAddress("192.168.7.1")));
    QVERIFY(!first.Accepts(Protocol::Tcp, QHostAddress("192.169.0.1")));
    const Rule& second = load.rules->rules.at(1);
    QVERIFY(!second.match);
    QVERIFY(second.Accepts(Protocol::Udp, QHostAddress("fe80::1")));
    QVERIFY(!second.Accepts(Protocol::Udp, QHostAddress("2001:db8::1")));
}

void TestRulesFile::durations_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("ms"); // -1: refused
    QTest::newRow("milliseconds") << "20ms" << 20;
    QTest::newRow("decimal seconds") << "1.25s" << 1250;
    QTest::newRow("zero decimals") << "3.000ms" << 3;
    QTest::newRow("finer than a millisecond") << "0.0005s" << -1;
    QTest::newRow("no unit") << "20" << -1;
    QTest::newRow("decimal comma") << "1,5s" << -1;
    QTest::newRow("longer than a day") << "86401s" << -1;
}

void TestRulesFile::durations()
{
    QFETCH(QString, text);
    QFETCH(int, ms);
    QString reason;
    const std::optional<std::chrono::milliseconds> duration = ParseDuration(text, reason);
    QCOMPARE(duration.has_value(), ms >= 0);
    if (duration)
        QCOMPARE(duration->count(), ms);
}

QTEST_APPLESS_MAIN(TestRulesFile)
#include "tst_rulesfile.moc"

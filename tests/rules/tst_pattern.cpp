#include "rules/pattern.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

Pattern Parsed(const QString& text, TextEncoding encoding = TextEncoding::Utf8)
{
    SyntaxError error;
    const std::optional<Pattern> pattern = Pattern::Parse(text, encoding, error);
    if (!pattern)
        qFatal("%s: %s", qPrintable(text), qPrintable(error.reason));
    return *pattern;
}

} // namespace

class TestPattern : public QObject {
    Q_OBJECT
private slots:
    void readErrors_data();
    void readErrors();
    void bytesWritten_data();
    void bytesWritten();
    void prefix_data();
    void prefix();
    void capturesAndGroups();
    void numbersBitsAndLengths_data();
    void numbersBitsAndLengths();
    void hostileInputIsBounded_data();
    void hostileInputIsBounded();
};

void TestPattern::readErrors_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("windows31j");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("reason");
    QTest::newRow("odd hex") << "01 0 02" << false << 3 << "pairs";
    QTest::newRow("lone ?") << "01 ?" << false << 3 << "lone '?'";
    QTest::newRow("unclosed quote") << "01 \"AB" << false << 3 << "no closing";
    QTest::newRow("unknown escape") << "\"A\\q\"" << false << 2 << "unknown escape";
    QTest::newRow("short \\x") << "\"\\x4\"" << false << 1 << "two hex digits";
    QTest::newRow("capture without length") << "01 {id}" << false << 3 << "needs a length";
    QTest::newRow("unknown checksum") << "01 {crc99}" << false << 3 << "unknown checksum";
    QTest::newRow("same capture twice") << "{a:1} {a:*}" << false << 6 << "already used";
    QTest::newRow("built-in name") << "{echo:2}" << false << 0 << "built-in";
    QTest::newRow("empty capture") << "{a:0}" << false << 0 << "1 to";
    QTest::newRow("bad expression") << "01 re\"(ab\"" << false << 9 << "bad expression";
    QTest::newRow("no code in windows-31j") << "\"a€\"" << true << 2 << "cannot be written";
    QTest::newRow("blank") << "  " << false << 0 << "empty";
    QTest::newRow("stray letter") << "01 G2" << false << 3 << "unexpected 'G'";
    QTest::newRow("bits short of a byte") << "{a:3b} 01" << false << 7 << "5 bits";
    QTest::newRow("length from a later capture")
        << "{d:n} {n:1}" << false << 1 << "unknown name \"n\"";
    QTest::newRow("same bytes of nothing") << "{v}" << false << 0 << "unknown name \"v\"";
    QTest::newRow("bit field as bytes") << "{a:4b} {b:4b} {a}" << false << 14 << "bit field";
    QTest::newRow("group in a pattern") << "( 01 )" << false << 0 << "no groups";
}

void TestPattern::readErrors()
{
    QFETCH(QString, text);
    QFETCH(bool, windows31j);
    QFETCH(int, offset);
    QFETCH(QString, reason);
    SyntaxError error;
    const auto encoding = windows31j ? TextEncoding::Windows31J : TextEncoding::Utf8;
    QVERIFY(!Pattern::Parse(text, encoding, error));
    QVERIFY2(error.reason.contains(reason), qPrintable(error.reason));
    QCOMPARE(error.offset, offset);
}

// What a pattern is written as, seen through the datagrams it takes whole.
void TestPattern::bytesWritten_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("windows31j");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("matches");
    QTest::newRow("separators") << "01:02,03-04 05\t06" << false
                                << QByteArray::fromHex("010203040506") << true;
    QTest::newRow("escapes") << R"("P\r\n\t\0\\\"\xFF")" << false
                             << QByteArray("P\r\n\t\0\\\"\xFF", 8) << true;
    QTest::newRow("braces in quotes are text")
        << "\"{a:1}\"" << false << QByteArray("{a:1}") << true;
    QTest::newRow("utf-8 text") << "\"あ\"" << false << QByteArray::fromHex("E38182") << true;
    QTest::newRow("windows-31j text") << "\"あ\"" << true << QByteArray::fromHex("82A0") << true;
    QTest::newRow("windows-31j ASCII controls")
        << "\"\x1A\x7F\"" << true << QByteArray("\x1A\x7F") << true;
    QTest::newRow("any byte") << "01 ?? 03" << false << QByteArray::fromHex("01FF03") << true;
    QTest::newRow("any byte is one byte")
        << "01 ?? 03" << false << QByteArray::fromHex("01FFFF03") << false;
    QTest::newRow("run may be empty") << "01 * 03" << false << QByteArray::fromHex("0103") << true;
    QTest::newRow("whole means all of it")
        << "01 * 03" << false << QByteArray::fromHex("010304") << false;
    QTest::newRow("whole means all of it, fixed bytes too")
        << "\"OK\"" << false << QByteArray("OK!") << false;
    QTest::newRow("checksum of what comes before")
        << "01 03 00 00 00 02 {crc16_modbus}" << false << QByteArray::fromHex("010300000002C40B")
        << true;
    QTest::newRow("checksum wrong") << "01 03 00 00 00 02 {crc16_modbus}" << false
                                    << QByteArray::fromHex("010300000002C40C") << false;
    QTest::newRow("checksum after a run")
        << "02 * {xor8}" << false << QByteArray::fromHex("02414201") << true;
    QTest::newRow("quote in expression") << R"(re"a\"b")" << false << QByteArray("a\"b") << true;
    QTest::newRow("backslash for PCRE2") << R"(re"\d\x41")" << false << QByteArray("7A") << true;
    QTest::newRow("trail byte 5C stays text")
        << "re\"(ソ)+\"" << true << QByteArray::fromHex("835C835C") << true;
}

void TestPattern::bytesWritten()
{
    QFETCH(QString, text);
    QFETCH(bool, windows31j);
    QFETCH(QByteArray, data);
    QFETCH(bool, matches);
    const Pattern pattern =
        Parsed(text, windows31j ? TextEncoding::Windows31J : TextEncoding::Utf8);
    QCOMPARE(pattern.Match(data, MatchMode::Whole).matched(), matches);
}

void TestPattern::prefix_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("length"); // -1: no match yet
    QTest::newRow("shortest line") << "* \"\\r\\n\"" << QByteArray("ab\r\ncd\r\n") << 4;
    QTest::newRow("incomplete") << "\"PING\\r\\n\"" << QByteArray("PIN") << -1;
    QTest::newRow("never empty") << "*" << QByteArray("xyz") << 1;
    QTest::newRow("empty expression match is none") << "re\"a*\"" << QByteArray("b") << -1;
    QTest::newRow("shortest over two runs") << "* \"a\" * \"b\"" << QByteArray("xaab-b") << 4;
    QTest::newRow("shortest though a longer end is found first")
        << "* re\"a.*;|b;\"" << QByteArray("ab;cc;") << 3;
    QTest::newRow("paths that meet are searched once")
        << "* * * \"b\"" << QByteArray(300, 'a') + "b" << 301;
    QTest::newRow("start must match") << "\"OK\"" << QByteArray("xOK") << -1;
    QTest::newRow("fixed bytes take their own") << "\"OK\"" << QByteArray("OKOK") << 2;
    QTest::newRow("checksum ends the frame")
        << "02 * {sum8}" << QByteArray::fromHex("020102030804") << 5;
}

void TestPattern::prefix()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, data);
    QFETCH(int, length);
    const MatchResult result = Parsed(text).Match(data, MatchMode::Prefix);
    QCOMPARE(result.status,
             length >= 0 ? MatchResult::Status::Matched : MatchResult::Status::NoMatch);
    if (length >= 0)
        QCOMPARE(result.length, length);
}

void TestPattern::capturesAndGroups()
{
    const Pattern pattern = Parsed(R"p({id:1} re"([A-Z]+)(-([0-9]+))?" {tail:*} re"(;)" "\n")p");
    QCOMPARE(pattern.GroupCount(), 4);
    MatchResult result = pattern.Match("7ABC-42xy;\n", MatchMode::Whole);
    QVERIFY(result.matched());
    QCOMPARE(result.captures.named.value("id"), QByteArray("7"));
    QCOMPARE(result.captures.named.value("tail"), QByteArray("xy"));
    QCOMPARE(result.captures.groups, QList<QByteArray>({"ABC", "-42", "42", ";"}));

    result = pattern.Match("7ABC;\n", MatchMode::Whole);
    QVERIFY(result.matched());
    QCOMPARE(result.captures.named.value("tail"), QByteArray(""));
    QCOMPARE(result.captures.groups, QList<QByteArray>({"ABC", "", "", ";"}));
}

// Each row: a pattern, a datagram matched whole, and the numbers its captures hold ("" when it
// must not match).
void TestPattern::numbersBitsAndLengths_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("numbers");
    QTest::newRow("length from a capture")
        << "{n:1} {d:n} 21" << QByteArray::fromHex("0341424321") << "n=3 d=4276803";
    QTest::newRow("length past the end") << "{n:1} {d:n}" << QByteArray::fromHex("054142") << "";
    QTest::newRow("length worked out")
        << "{n:1} {d:n - 1} {c:1}" << QByteArray::fromHex("03AABBCC") << "d=43707 c=204";
    QTest::newRow("little-endian")
        << "{v:2le} {w:2}" << QByteArray::fromHex("34121234") << "v=4660 w=4660";
    QTest::newRow("bit fields, token as long as one says")
        << "{1:2b} {t:2b} {k:4b} 01 {tok:k}" << QByteArray::fromHex("6201AABB")
        << "t=2 k=2 tok=43707";
    QTest::newRow("bit field of the wrong value")
        << "{1:2b} {t:2b} {k:4b} 01" << QByteArray::fromHex("A201") << "";
    QTest::newRow("fields across a byte")
        << "{a:4b} {b:12b}" << QByteArray::fromHex("ABCD") << "a=10 b=3021";
    QTest::newRow("the same bytes again") << "{a:2} \"-\" {a}" << QByteArray("xy-xy") << "a=30841";
    QTest::newRow("other bytes") << "{a:2} \"-\" {a}" << QByteArray("xy-xz") << "";
    QTest::newRow("a number worked out")
        << "{n:1} {n * 2 + 1:1} {n << 8:2le}" << QByteArray::fromHex("03070003") << "n=3";
    QTest::newRow("another number") << "{n:1} {n * 2 + 1:1}" << QByteArray::fromHex("0306") << "";
    QTest::newRow("a run, then its length")
        << "{s:*} \";\" {len(s):1}" << QByteArray::fromHex("4142433B03") << "s=4276803";
}

void TestPattern::numbersBitsAndLengths()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, data);
    QFETCH(QString, numbers);
    const MatchResult result = Parsed(text).Match(data, MatchMode::Whole);
    QCOMPARE(result.matched(), !numbers.isEmpty());
    const CaptureScope scope(result.captures, 0, nullptr);
    for (const QString& pair : numbers.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList parts = pair.split(u'=');
        QCOMPARE(scope.Number(parts[0]).value_or(~0ULL), parts[1].toULongLong());
    }
}

void TestPattern::hostileInputIsBounded_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("expression");
    QTest::newRow("nested repeat") << "re\"(a|a)*c\"" << QByteArray(40, 'a') + "bc" << true;
    QTest::newRow("expression after a run")
        << "* re\"(a|aa)*c\"" << QByteArray(3000, 'a') + "bc" << true;
    QTest::newRow("many runs") << "* * * \"b\"" << QByteArray(4000, 'a') << false;
}

void TestPattern::hostileInputIsBounded()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, data);
    QFETCH(bool, expression);
    const Pattern pattern = Parsed(text);
    QElapsedTimer timer;
    timer.start();
    for (MatchMode mode : {MatchMode::Whole, MatchMode::Prefix}) {
        const MatchResult result = pattern.Match(data, mode);
        QCOMPARE(result.status, MatchResult::Status::OverLimit);
        QCOMPARE(result.expressionOverLimit, expression);
    }
    QVERIFY2(timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
}

QTEST_APPLESS_MAIN(TestPattern)
#include "tst_pattern.moc"

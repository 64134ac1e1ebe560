#include "convert/codepage.h"
#include "convert/conversions.h"

#include <QTest>

namespace {

// The Japanese Windows code page, each byte taken by itself: runs of bytes with the character of
// the run's first byte, the others following on. A lead byte is no character and shows "・".
constexpr char16_t kLeadBytes = 0xFFFF;
struct ByteRun {
    int first;
    int last;
    char16_t firstChar;
};
const ByteRun kSingleBytes[] = {
    {0x00, 0x7F, 0x0000}, {0x80, 0x80, 0x0080},     {0x81, 0x9F, kLeadBytes}, {0xA0, 0xA0, 0xF8F0},
    {0xA1, 0xDF, 0xFF61}, {0xE0, 0xFC, kLeadBytes}, {0xFD, 0xFF, 0xF8F1},
};

} // namespace

class TestConversions : public QObject {
    Q_OBJECT
private slots:
    void bytesToHex_data();
    void bytesToHex();
    void bytesToText_data();
    void bytesToText();
    void textToHex_data();
    void textToHex();
    void hexToBytes_data();
    void hexToBytes();
    void everySingleByte_data();
    void everySingleByte();
    void textToAnsiBytesMarksWhatCannotBeHeld();
    void trimSpacesKeepsOtherBlanks();
};

void TestConversions::bytesToHex_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("leading zeros kept") << QByteArray("\x00\x1F\xA0", 3) << "001FA0";
    QTest::newRow("single small") << QByteArray("\x05") << "05";
    QTest::newRow("upper case") << QByteArray("\xFF\xab") << "FFAB";
    QTest::newRow("line end") << QByteArray("A\r\n") << "410D0A";
    // Taken eight at a time, the rest one by one: every value, in every position of a block.
    QByteArray everyValue;
    for (int round = 0; round < 8; ++round) {
        for (int byte = 0; byte < 256; ++byte)
            everyValue.append(char(byte + round));
    }
    everyValue.append("\x9A\xF0\x0B");
    QTest::newRow("every value, blocks and a tail")
        << everyValue << QString::fromLatin1(everyValue.toHex().toUpper());
}

void TestConversions::bytesToHex()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QCOMPARE(BytesToHex(bytes), expected);
}

void TestConversions::bytesToText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("control bytes unescaped") << QByteArray("A\rB") << "A\rB";
    QTest::newRow("nul kept") << QByteArray("\x00Z", 2) << QString(QChar(0)) + "Z";
    QTest::newRow("lead byte alone") << QByteArray("\x82"
                                                   "A")
                                     << QString::fromUtf8("・A");
}

void TestConversions::bytesToText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    const QString text = BytesToText(bytes);
    QCOMPARE(text.size(), bytes.size());
    QCOMPARE(text, expected);
}

void TestConversions::textToHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("default payload") << "0016WGCS22000000"
                                     << "30303136574743533232303030303030";
    QTest::newRow("double-byte keeps trail byte") << QString::fromUtf8("あ") << "A0";
    QTest::newRow("outside the code page") << QString::fromUtf8("€") << "3F";
}

void TestConversions::textToHex()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(TextToHex(text), expected);
}

void TestConversions::hexToBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("one digit") << "F" << QByteArray();
    QTest::newRow("three digits") << "FFF" << QByteArray("\xFF\x0F");
    QTest::newRow("mixed case") << "0A1b" << QByteArray("\x0A\x1B");
    QTest::newRow("fF") << "fF" << QByteArray("\xFF");
    QTest::newRow("non-hex first") << "ZZ41" << QByteArray("\x00\x41", 2);
    QTest::newRow("G1") << "G1" << QByteArray("\x00", 1);
    QTest::newRow("1G") << "1G" << QByteArray("\x01");
    QTest::newRow("two spaces") << "  " << QByteArray("\x00", 1);
    QTest::newRow("123") << "123" << QByteArray("\x12\x03");
    QTest::newRow("five rounds down") << "12345" << QByteArray("\x12\x34");
    QTest::newRow("seven rounds up") << "1234567" << QByteArray("\x12\x34\x56\x07");
    QTest::newRow("nine rounds down") << "123456789" << QByteArray("\x12\x34\x56\x78");
    QTest::newRow("eleven rounds up") << "123456789AB" << QByteArray("\x12\x34\x56\x78\x9A\x0B");
    QTest::newRow("spaces move the pairing") << "01 02 03" << QByteArray("\x01\x00\x02\x03", 4);
    QTest::newRow("five with spaces") << "01 02" << QByteArray("\x01\x00", 2);
    QTest::newRow("tab is a blank") << "\tA" << QByteArray("\x0A");
}

void TestConversions::hexToBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(HexToBytes(text), expected);
    QCOMPARE(HexByteCount(text), expected.size());
}

void TestConversions::everySingleByte_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QChar>("shown");
    for (const ByteRun& run : kSingleBytes) {
        for (int byte = run.first; byte <= run.last; ++byte) {
            const QChar shown =
                run.firstChar == kLeadBytes ? u'・' : QChar(run.firstChar + (byte - run.first));
            QTest::addRow("%02X", byte) << byte << shown;
        }
    }
}

// Shown as its character, and that character typed goes back out as the same byte: by itself,
// in hexadecimal, and beside a double-byte character in a reply or a log line.
void TestConversions::everySingleByte()
{
    QFETCH(int, byte);
    QFETCH(QChar, shown);
    const QByteArray raw(1, char(byte));
    QCOMPARE(BytesToText(raw), QString(shown));
    if (shown == u'・')
        return;
    QCOMPARE(TextToHex(shown), QString::asprintf("%02X", byte));
    QCOMPARE(TextToAnsiBytes(shown), raw);
    QCOMPARE(TextToAnsiLine(QStringLiteral("テ") + shown), "\x83\x65" + raw + "\r\n");
}

void TestConversions::textToAnsiBytesMarksWhatCannotBeHeld()
{
    QCOMPARE(TextToAnsiBytes(QString::fromUtf8("Tidewell－テスト")),
             QByteArray("Tidewell\x81\x7C\x83\x65\x83\x58\x83\x67"));
    QCOMPARE(TextToAnsiBytes(QString::fromUtf8("a€b")), QByteArray("a?b"));
    QCOMPARE(TextToAnsiBytes(QString::fromUtf8("😀")), QByteArray("??"));
    QCOMPARE(TextToAnsiBytes(QStringLiteral("a") + QChar(0xD83D)), QByteArray("a?"));
    QCOMPARE(TextToAnsiLine(QStringLiteral("Start 12")), QByteArray("Start 12\r\n"));
}

void TestConversions::trimSpacesKeepsOtherBlanks()
{
    QCOMPARE(TrimSpaces("  localhost "), QString("localhost"));
    QCOMPARE(TrimSpaces("   "), QString());
    QCOMPARE(TrimSpaces(" a b "), QString("a b"));
    QCOMPARE(TrimSpaces("\tx\t"), QString("\tx\t"));
    QCOMPARE(TrimSpaces(QString::fromUtf8("\u3000x")), QString::fromUtf8("\u3000x"));
}

QTEST_APPLESS_MAIN(TestConversions)
#include "tst_conversions.moc"

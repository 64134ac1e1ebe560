#include "convert/codepage.h"
#include "convert/conversions.h"

#include <QTest>

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
    void singleByteCharactersRoundTrip();
    void textToAnsiBytesMarksWhatCannotBeHeld();
    void wholeTextEncodesAsItsCharacters_data();
    void wholeTextEncodesAsItsCharacters();
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
    QTest::newRow("half-width katakana") << QByteArray("\xB1") << QString::fromUtf8("ｱ");
    QTest::newRow("lead byte alone") << QByteArray("\x82"
                                                   "A")
                                     << QString::fromUtf8("・A");
    QTest::newRow("undefined byte") << QByteArray("\xFF") << QString::fromUtf8("・");
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
    QTest::newRow("half-width katakana") << QString::fromUtf8("ｱ") << "B1";
    QTest::newRow("outside the code page") << QString::fromUtf8("€") << "3F";
    QTest::newRow("control character") << "\t"
                                       << "09";
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

void TestConversions::singleByteCharactersRoundTrip()
{
    QString text;
    QByteArray codes;
    for (int byte = 0x20; byte < 0x7F; ++byte) {
        text.append(QChar(byte));
        codes.append(char(byte));
    }
    for (int byte = 0xA1; byte <= 0xDF; ++byte) {
        text.append(AnsiCharOfByte(byte));
        codes.append(char(byte));
    }
    QCOMPARE(HexToBytes(TextToHex(text)), codes);
    QCOMPARE(BytesToText(codes), text);
}

void TestConversions::textToAnsiBytesMarksWhatCannotBeHeld()
{
    QCOMPARE(TextToAnsiBytes(QString::fromUtf8("Tidewell－テスト")),
             QByteArray("Tidewell\x81\x7C\x83\x65\x83\x58\x83\x67"));
    QCOMPARE(TextToAnsiBytes(QString::fromUtf8("a€b")), QByteArray("a?b"));
    QCOMPARE(TextToAnsiBytes(QString::fromUtf8("😀")), QByteArray("??"));
}

void TestConversions::wholeTextEncodesAsItsCharacters_data()
{
    QTest::addColumn<QString>("text");
    QString ascii;
    for (int c = 0; c < 128; ++c)
        ascii.append(QChar(c));
    QTest::newRow("every ASCII character") << ascii;
    QTest::newRow("ASCII then double-byte") << ascii + QString::fromUtf8("テスト");
    QTest::newRow("ASCII then unmappable") << ascii + QString::fromUtf8("€");
    QTest::newRow("empty") << QString();
}

// Plain text takes a shortcut past the converter; it must give the converter's bytes.
void TestConversions::wholeTextEncodesAsItsCharacters()
{
    QFETCH(QString, text);
    QByteArray oneByOne;
    for (QChar c : text) {
        const int code = AnsiCodeOfChar(c);
        if (code > 0xFF)
            oneByOne.append(char(code >> 8));
        oneByOne.append(char(code & 0xFF));
    }
    QCOMPARE(TextToAnsiBytes(text), oneByOne);
    QCOMPARE(TextToAnsiLine(text), oneByOne + "\r\n");
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

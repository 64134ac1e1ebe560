#include "rules/checksum.h"

#include <QTest>

class TestChecksum : public QObject {
    Q_OBJECT
private slots:
    void catalogue_data();
    void catalogue();
};

// The catalogue's check values for "123456789", and the bytes as they go on the wire.
void TestChecksum::catalogue_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("check");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("crc8") << "crc8" << 0xF4u << QByteArray::fromHex("F4");
    QTest::newRow("modbus low byte first")
        << "crc16_modbus" << 0x4B37u << QByteArray::fromHex("374B");
    QTest::newRow("xmodem") << "crc16_xmodem" << 0x31C3u << QByteArray::fromHex("31C3");
    QTest::newRow("ibm3740") << "crc16_ibm3740" << 0x29B1u << QByteArray::fromHex("29B1");
    QTest::newRow("crc32") << "crc32" << 0xCBF43926u << QByteArray::fromHex("CBF43926");
    QTest::newRow("sum8") << "sum8" << 0xDDu << QByteArray::fromHex("DD");
    QTest::newRow("xor8") << "xor8" << 0x31u << QByteArray::fromHex("31");
    QTest::newRow("lrc8") << "lrc8" << 0x23u << QByteArray::fromHex("23");
}

void TestChecksum::catalogue()
{
    QFETCH(QString, name);
    QFETCH(uint, check);
    QFETCH(QByteArray, wire);
    const std::optional<ChecksumKind> kind = ChecksumByName(name);
    QVERIFY(kind);
    QCOMPARE(ChecksumValue(*kind, "123456789"), check);
    QCOMPARE(ChecksumBytes(*kind, "123456789"), wire);
    // A pattern's checksum is fed a piece at a time while it looks for where the request ends.
    RunningChecksum pieces(*kind);
    pieces.Add("1234");
    pieces.Add("");
    pieces.Add("56789");
    QCOMPARE(pieces.Value(), check);
}

QTEST_APPLESS_MAIN(TestChecksum)
#include "tst_checksum.moc"

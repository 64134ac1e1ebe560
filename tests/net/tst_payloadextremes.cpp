// Payloads at the edges: a megabyte typed as hexadecimal, the largest and the empty datagram, and
// every byte value shown as characters.
#include "convert/controls.h"
#include "net/clientlink.h"
#include "support/peers.h"
#include "support/windowfixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {

// The largest UDP payload that fits in one IPv4 datagram.
constexpr int kLargestDatagram = 65507;

QByteArray Pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 % 256);
    return bytes;
}

QString Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

} // namespace

class TestPayloadExtremes : public QObject {
    Q_OBJECT
private slots:
    void megabytePayloadGoesOutWholeAndCountsOnce();
    void datagramSizes_data();
    void datagramSizes();
    void tooLargeDatagramIsReported_data();
    void tooLargeDatagramIsReported();
    void everyByteValueAsCharacters();
};

void TestPayloadExtremes::megabytePayloadGoesOutWholeAndCountsOnce()
{
    TcpPeer peer;
    WindowFixture f;
    QVERIFY(f.connectClient(peer.port()));
    const QByteArray payload = Pattern(1024 * 1024);
    const QString hex = Hex(payload);
    f.ui().Text1->setText(hex);
    QCOMPARE(f.ui().Text1->text().size(), hex.size());
    f.ui().cmdOneShot->click();
    QTRY_COMPARE_WITH_TIMEOUT(peer.received().size(), payload.size(), 30000);
    QVERIFY(peer.received() == payload);
    QTRY_COMPARE(f.list1().constLast(), QStringLiteral("Sended."));
    const QStringList lines = f.list1();
    QCOMPARE(lines.count(QStringLiteral("Sended.")), 1);
    QCOMPARE(lines.value(lines.size() - 2).size(), hex.size() + 5);
    QVERIFY(lines.value(lines.size() - 2) == QStringLiteral("SND[") + hex + QStringLiteral("]"));
    QCOMPARE(f.ui().lblCount->text(), QStringLiteral("1"));
}

void TestPayloadExtremes::datagramSizes_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("largest") << kLargestDatagram;
}

// Sent by the client (when it can be typed), answered to it, and sent to the receiver.
void TestPayloadExtremes::datagramSizes()
{
    QFETCH(int, size);
    const QByteArray payload = Pattern(size);
    const QString shown = QStringLiteral("RCV[") + Hex(payload) + QStringLiteral("]");
    UdpPeer peer;
    WindowFixture f(QStringLiteral("udp"));
    QVERIFY(f.connectClient(peer.port()));
    const quint16 receiverPort = f.openReceiver();
    QVERIFY2(receiverPort != 0, qPrintable(f.list2().join(QLatin1Char('\n'))));

    // An empty payload cannot be typed, so the client sends one byte for the peer to answer.
    const QByteArray sent = size > 0 ? payload : QByteArray("\x01");
    f.ui().Text1->setText(Hex(sent));
    f.ui().cmdOneShot->click();
    QTRY_COMPARE(peer.datagrams().size(), 1);
    QCOMPARE(peer.datagrams().at(0).data(), sent);
    peer.replyToLatest(payload);
    QTRY_VERIFY2(f.list1().constLast().startsWith(QStringLiteral("RCV[")),
                 qPrintable(f.list1().constLast().left(80)));
    QCOMPARE(f.list1().constLast(), shown);

    peer.sendTo(receiverPort, payload);
    QTRY_COMPARE(f.list2().size(), 1);
    QCOMPARE(f.list2().at(0), shown);
}

void TestPayloadExtremes::tooLargeDatagramIsReported_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("address") << QStringLiteral("127.0.0.1");
    QTest::newRow("name") << QStringLiteral("localhost");
}

// Whether the target is an address or a name, the failed send is told at the send.
void TestPayloadExtremes::tooLargeDatagramIsReported()
{
    QFETCH(QString, host);
    UdpPeer peer;
    WindowFixture f(QStringLiteral("udp"));
    ClientLink& client = f.window->Client();
    QVERIFY(f.connectClient(peer.port(), host));
    // An operator's press comes after the name is looked up: a first frame arrives only then.
    f.ui().Text1->setText(QStringLiteral("00"));
    f.ui().cmdOneShot->click();
    QTRY_COMPARE(peer.datagrams().size(), 1);
    const QString counted = f.ui().lblCount->text();
    f.ui().Text1->setText(Hex(Pattern(kLargestDatagram + 1)));
    f.ui().cmdOneShot->click();
    const QString failure = f.list1().constLast();
    QVERIFY2(failure.startsWith(QStringLiteral("Send Err: ")), qPrintable(failure.left(80)));
    QCOMPARE(client.Variables().Connected, 0);
    QCOMPARE(f.ui().lblCount->text(), counted);

    // The link is set up again and the next frame that fits goes out.
    f.ticks(5);
    QCOMPARE(client.Variables().Connected, 1);
    f.ui().Text1->setText(QStringLiteral("4F4B"));
    f.ui().cmdOneShot->click();
    QTRY_COMPARE(peer.datagrams().size(), 2);
    QCOMPARE(peer.datagrams().at(1).data(), QByteArray("OK"));
}

// One line of 256 characters between the brackets; the log gets it in the code page, every byte
// that is a character by itself as that same byte, and each lone lead byte as the "・" shown.
void TestPayloadExtremes::everyByteValueAsCharacters()
{
    QByteArray everyByte(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        everyByte[i] = char(i);
    UdpPeer peer;
    WindowFixture f(QStringLiteral("udp"));
    f.ui().Option2->setChecked(true);
    peer.sendTo(f.openReceiver(), everyByte);
    QTRY_COMPARE(f.list2().size(), 1);
    const QString line = f.list2().at(0);
    QCOMPARE(line.size(), 4 + 256 + 1);
    QVERIFY(line.startsWith(QStringLiteral("RCV[")) && line.endsWith(u']'));
    const QString shown = line.mid(4, 256);
    QCOMPARE(shown.at(0), QChar(0));
    QCOMPARE(shown.at(0x0D), QChar(u'\r'));
    QCOMPARE(shown.at(0x41), QChar(u'A'));
    QCOMPARE(shown.at(0xB1), QChar(u'ｱ'));
    QCOMPARE(shown.at(0x81), QChar(u'・')); // a lead byte by itself is no character

    const QByteArray log = f.sandbox.bytes(QStringLiteral("24.LOG"));
    // Control bytes but TAB are written as <hh>, so the arrival stays one line of the file; every
    // other byte goes in as it came, but a lead byte by itself, which is logged as its "・".
    QByteArray expected("RCV[");
    for (int byte = 0; byte <= 0xFF; ++byte) {
        const bool control = (byte < 0x20 && byte != '\t') || byte == 0x7F;
        const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
        if (control)
            expected +=
                QStringLiteral("<%1>").arg(byte, 2, 16, QLatin1Char('0')).toUpper().toLatin1();
        else
            expected += lead ? QByteArray("\x81\x45") : QByteArray(1, char(byte));
    }
    QVERIFY(log.contains(expected + "]\r\n"));
}

QTEST_MAIN(TestPayloadExtremes)
#include "tst_payloadextremes.moc"

// The receiver's record of a UDP flood: every datagram sent is either a RCV[ line or counted in
// a LOST[n] line, and what the program holds does not grow with the size of the flood.
#include "support/windowfixture.h"

#include <QFile>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <atomic>
#include <thread>

namespace {

// RCV[ lines and the sum of LOST[n] in the day file.
std::pair<qint64, qint64> Record(const LogSandbox& sandbox)
{
    qint64 received = 0;
    qint64 lost = 0;
    for (const QString& line : sandbox.lines(QStringLiteral("24.LOG"))) {
        const QString message = line.mid(40);
        if (message.startsWith(QLatin1String("RCV[")))
            ++received;
        else if (message.startsWith(QLatin1String("LOST[")))
            lost += message.mid(5, message.indexOf(QLatin1Char(']')) - 5).toLongLong();
    }
    return {received, lost};
}

QByteArray Counts(const LogSandbox& sandbox, qint64 sent)
{
    const auto [received, lost] = Record(sandbox);
    return QStringLiteral("sent %1, shown %2, told lost %3")
        .arg(sent)
        .arg(received)
        .arg(lost)
        .toLatin1();
}

// What the receiver shows and tells lost, counted as it goes: a log of hundreds of megabytes is
// read back once, when all is told, not at every poll.
class Told : public QObject {
public:
    explicit Told(frmUDP& window)
    {
        connect(&window.Winsock2(), &Winsock::DataArrival, this, [this] { ++shown; });
        connect(&window.Winsock2(), &Winsock::Lost, this, [this](qint64 count) { lost += count; });
    }
    qint64 all() const { return shown + lost; }
    qint64 shown = 0;
    qint64 lost = 0;
};

// Sent from another thread while the window's thread goes on: the datagrams the system took.
qint64 SendBurst(quint16 port, int count, int size)
{
    std::atomic<qint64> sent{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        QUdpSocket socket;
        const QByteArray datagram(size, 'x');
        for (int i = 0; i < count; ++i)
            sent += socket.writeDatagram(datagram, QHostAddress::LocalHost, port) == size;
        done = true;
    });
    while (!done)
        QTest::qWait(1);
    sender.join();
    return sent;
}

double ResidentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
}

} // namespace

class TestUdpRecord : public QObject {
    Q_OBJECT
private slots:
    void burstOverCapacityIsShownOrToldLost();
    void largeDatagramsAtFullSpeedKeepMemoryBounded();
};

void TestUdpRecord::burstOverCapacityIsShownOrToldLost()
{
    WindowFixture f(QStringLiteral("udp"));
    const quint16 port = f.openReceiver();
    QVERIFY2(port != 0, qPrintable(f.list2().join(QLatin1Char('\n'))));
    f.ui().Option2->setChecked(true); // one character a byte in the list
    Told told(*f.window);
    // Sent while the window's thread is busy here: 330 MB as the system counts it, more than the
    // deepest receive buffer the program may have (256 MB), so part of the burst finds no room.
    constexpr int kBurst = 5000;
    QUdpSocket sender;
    qint64 sent = 0;
    const QByteArray datagram(65000, 'b');
    for (int i = 0; i < kBurst; ++i)
        sent += sender.writeDatagram(datagram, QHostAddress::LocalHost, port) == datagram.size();

    QTRY_VERIFY2_WITH_TIMEOUT(told.all() >= sent, Counts(f.sandbox, sent).constData(), 60000);
    const auto [received, lost] = Record(f.sandbox);
    QVERIFY2(lost > 0, "the burst was meant to overflow the receive buffer");
    QCOMPARE(received + lost, sent);
}

void TestUdpRecord::largeDatagramsAtFullSpeedKeepMemoryBounded()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("The sanitizer keeps freed memory aside, so resident memory says nothing here.");
#endif
    WindowFixture f(QStringLiteral("udp"));
    f.ui().Option2->setChecked(true); // one character a byte in the list
    const quint16 port = f.openReceiver();
    QVERIFY2(port != 0, qPrintable(f.list2().join(QLatin1Char('\n'))));
    double peak = 0;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] { peak = qMax(peak, ResidentMb()); });
    sampler.start(5);
    const double before = ResidentMb();

    constexpr int kDatagrams = 3000;
    Told told(*f.window);
    const qint64 sent = SendBurst(port, kDatagrams, 65000);
    QTRY_VERIFY2_WITH_TIMEOUT(told.all() >= sent, Counts(f.sandbox, sent).constData(), 60000);
    const auto [received, lost] = Record(f.sandbox);
    QCOMPARE(received + lost, sent);
    // The list keeps at most 1001 lines of 65,000 characters (about 130 MB); what was read from
    // the system and not yet shown must not add a flood's worth (195 MB here) on top.
    QVERIFY2(peak - before < 250, qPrintable(QStringLiteral("grew %1 MB").arg(peak - before)));
}

QTEST_MAIN(TestUdpRecord)
#include "tst_udprecord.moc"

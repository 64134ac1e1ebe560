// A normal stop right after a UDP burst: the day file accounts for every datagram that reached
// the socket, as a RCV[ line or in a LOST[n] line, before its End line.
#include "net/clientlink.h"
#include "support/peers.h"
#include "support/programrun.h"
#include "support/windowfixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <atomic>
#include <thread>

namespace {

enum StopBy {
    SigtermToProgram,
    SigtermWhileSending,
    QuitButtonOnReceiver,
    QuitButtonOnClient,
    QuitWhileAllWait
};

const QByteArray kBurstDatagram = "burst";
constexpr int kBurst = 40000;
// More than a stop once showed of what waits (65,536); less than the buffer holds for root.
constexpr int kWaitingBurst = 100000;
// Long enough for the last LOST[n] to be still untold, the buffer to be still part full.
constexpr int kStopAfterMs = 300;

// Sent flat out from another thread while this one goes on: the datagrams the system took.
qint64 SendBurst(quint16 port)
{
    std::atomic<qint64> sent{0};
    std::atomic<bool> done{false};
    std::thread sender([&] {
        QUdpSocket socket;
        for (int i = 0; i < kBurst; ++i)
            sent += socket.writeDatagram(kBurstDatagram, QHostAddress::LocalHost, port) ==
                    kBurstDatagram.size();
        done = true;
    });
    while (!done)
        QTest::qWait(1);
    sender.join();
    return sent;
}

// The RCV[ lines of `datagram` plus the sum of LOST[n], up to the End line.
qint64 Accounted(const QStringList& lines, const QByteArray& datagram)
{
    const QString arrival = "RCV[" + QString(datagram.toHex().toUpper()) + "]";
    qint64 accounted = 0;
    for (const QString& line : lines) {
        if (line.mid(20).startsWith(QLatin1String("End ")))
            return accounted;
        const QString message = LoggedMessage(line);
        if (message == arrival)
            ++accounted;
        else if (message.startsWith(QLatin1String("LOST[")))
            accounted += message.mid(5, message.indexOf(QLatin1Char(']')) - 5).toLongLong();
    }
    return -1; // no End line
}

// Datagrams to IPv4 ports no socket took, as the system counts them.
qint64 UdpNoPorts()
{
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly))
        return -1;
    // A heading line, then a line of values.
    const QStringList udp =
        QString::fromLatin1(snmp.readAll()).split('\n').filter(QStringLiteral("Udp: "));
    return udp.value(1).split(' ').value(2).toLongLong();
}

// The program itself, its receiver opened by the environment; bound once a probe is logged.
// `goOn`: a sender goes on flat out through the stop, and what it sent after the program let go
// of the port (which the system counts as sent to no port) is not counted in `sent`.
QStringList BurstThenSigterm(qint64* sent, bool goOn = false)
{
    // The program cannot be given port 0 from its environment: a port the system just chose is
    // handed over, and nothing but probes goes there until the program is seen to hold it.
    quint16 port = 0;
    {
        QUdpSocket chooser;
        chooser.bind(QHostAddress::LocalHost, 0);
        port = chooser.localPort();
    }
    ProgramRun run;
    run.setEnvironment(QStringLiteral("PEERTEST_RECEIVER_PORT"), QString::number(port));
    if (!run.start({QStringLiteral("udp")}) || !run.waitUntilLoaded())
        return {};
    UdpPeer prober;
    const bool bound = QTest::qWaitFor(
        [&] {
            prober.sendTo(port, "probe");
            return QTest::qWaitFor([&] { return run.dayFileLines().size() >= 2; }, 200);
        },
        10000);
    if (!bound)
        return {};
    if (!goOn) {
        *sent = SendBurst(port);
        QTest::qWait(kStopAfterMs);
        return run.stop(SIGTERM) ? run.dayFileLines() : QStringList();
    }
    const qint64 noPortsBefore = UdpNoPorts();
    Flooder flooder(true, port, int(kBurstDatagram.size()));
    QTest::qWait(kStopAfterMs);
    const bool stopped = run.stop(SIGTERM);
    flooder.stop();
    *sent = flooder.bytesSent() / kBurstDatagram.size() - (UdpNoPorts() - noPortsBefore);
    return stopped ? run.dayFileLines() : QStringList();
}

// Sent from this thread, so the window reads none of it before the quit button is pressed.
qint64 SendWhileBusy(quint16 port)
{
    QUdpSocket socket;
    qint64 sent = 0;
    for (int i = 0; i < kWaitingBurst; ++i)
        sent += socket.writeDatagram(kBurstDatagram, QHostAddress::LocalHost, port) ==
                kBurstDatagram.size();
    return sent;
}

QStringList QuitWithAllWaiting(qint64* sent)
{
    WindowFixture f(QStringLiteral("udp"));
    *sent = SendWhileBusy(f.openReceiver());
    f.ui().cmdEnd->click();
    return f.endCalls == 1 ? f.sandbox.lines(QStringLiteral("24.LOG")) : QStringList();
}

// The window in this process, its quit button pressed.
QStringList BurstThenQuitButton(bool toClient, qint64* sent)
{
    WindowFixture f(QStringLiteral("udp"));
    quint16 port = 0;
    UdpPeer peer;
    if (toClient) {
        // The client's socket opens with its first send; the burst goes to its port.
        if (!f.connectClient(peer.port()))
            return {};
        f.ui().cmdOneShot->click();
        port = quint16(f.window->Client().Socket().LocalPort());
    } else {
        port = f.openReceiver();
    }
    *sent = SendBurst(port);
    QTest::qWait(kStopAfterMs);
    f.ui().cmdEnd->click();
    return f.endCalls == 1 ? f.sandbox.lines(QStringLiteral("24.LOG")) : QStringList();
}

} // namespace

class TestStopRecord : public QObject {
    Q_OBJECT
private slots:
    void everyDatagramIsAccountedForAtTheStop_data();
    void everyDatagramIsAccountedForAtTheStop();
};

void TestStopRecord::everyDatagramIsAccountedForAtTheStop_data()
{
    QTest::addColumn<int>("stopBy");
    QTest::newRow("SIGTERM to the program, receiver") << int(SigtermToProgram);
    QTest::newRow("SIGTERM, a sender going on flat out") << int(SigtermWhileSending);
    QTest::newRow("quit button, receiver") << int(QuitButtonOnReceiver);
    QTest::newRow("quit button, client socket") << int(QuitButtonOnClient);
    QTest::newRow("quit button, all of a burst still waiting") << int(QuitWhileAllWait);
}

void TestStopRecord::everyDatagramIsAccountedForAtTheStop()
{
    QFETCH(int, stopBy);
    qint64 sent = 0;
    QStringList lines;
    if (stopBy == SigtermToProgram || stopBy == SigtermWhileSending)
        lines = BurstThenSigterm(&sent, stopBy == SigtermWhileSending);
    else if (stopBy == QuitWhileAllWait)
        lines = QuitWithAllWaiting(&sent);
    else
        lines = BurstThenQuitButton(stopBy == QuitButtonOnClient, &sent);
    QVERIFY2(!lines.isEmpty(), "the run did not start, bind or stop as it should");
    QVERIFY(sent > 0);
    // The flooder sends datagrams of its own.
    const QByteArray datagram =
        stopBy == SigtermWhileSending ? QByteArray(kBurstDatagram.size(), 'F') : kBurstDatagram;
    QCOMPARE(Accounted(lines, datagram), sent);
}

QTEST_MAIN(TestStopRecord)
#include "tst_stop_record.moc"

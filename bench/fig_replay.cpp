// peertest-cli replay --speed max of a UDP capture the peer never answers, beside tcpreplay
// --topspeed of the same file onto the loopback: datagrams a second, process start to exit.
#include "benchsupport.h"
#include "figures.h"

#include "capture/packets.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QUdpSocket>

#include <cstdio>

namespace {

constexpr int kDatagrams = 500000;

void Append32(QByteArray& out, quint32 value)
{
    out.append(reinterpret_cast<const char*>(&value), 4); // pcap is written in this host's order
}

// An Ethernet pcap, as tcpreplay puts frames onto an interface, of 16-byte datagrams to `port`,
// captured 10 us apart.
bool WriteFlood(const QString& path, quint16 port)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray out;
    for (quint32 word : {0xA1B2C3D4u, 0x00040002u, 0u, 0u, 262144u, 1u})
        Append32(out, word);
    const PacketEnds ends{QHostAddress::LocalHost, 40000, QHostAddress::LocalHost, port};
    const QByteArray ethernet = QByteArray(12, '\0') + QByteArray::fromHex("0800");
    for (int i = 0; i < kDatagrams; ++i) {
        const QByteArray frame =
            ethernet + UdpPacket(ends, QByteArray::number(i).rightJustified(16, '0'), quint16(i));
        for (quint32 word : {1700000000u + quint32(i / 100000), quint32(i % 100000) * 10,
                             quint32(frame.size()), quint32(frame.size())})
            Append32(out, word);
        out += frame;
        if (out.size() > (1 << 20) && file.write(out) == out.size())
            out.clear();
    }
    return file.write(out) == out.size();
}

// Datagrams a second from start to exit; 0 when the program did not end with status 0.
double DatagramRate(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool ended = process.waitForFinished(300000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
               ? kDatagrams / seconds
               : 0;
}

} // namespace

void ReplayFigures()
{
    QTemporaryDir dir;
    QUdpSocket sink; // never read: the system drops what it cannot hold
    sink.bind(QHostAddress::LocalHost, 0);
    const QString path = dir.filePath(QStringLiteral("flood.pcap"));
    if (!WriteFlood(path, sink.localPort())) {
        std::printf("replay: the capture could not be written\n");
        return;
    }
    const double cli = DatagramRate(QStringLiteral(PEERTEST_CLI_BINARY),
                                    {QStringLiteral("replay"), path, QStringLiteral("--to"),
                                     QStringLiteral("udp://127.0.0.1:%1").arg(sink.localPort()),
                                     QStringLiteral("--speed"), QStringLiteral("max")});
    PrintFigure(QStringLiteral("cli replay --speed max, 500,000 UDP datagrams, start to exit"), cli,
                QStringLiteral("datagrams/s (target at least 50,000)"), 0);
    const QString tcpreplay = QStandardPaths::findExecutable(QStringLiteral("tcpreplay"));
    const double anchor =
        tcpreplay.isEmpty()
            ? 0
            : DatagramRate(tcpreplay, {QStringLiteral("--topspeed"), QStringLiteral("-i"),
                                       QStringLiteral("lo"), path});
    if (anchor <= 0) {
        PrintText(QStringLiteral("tcpreplay --topspeed, the same file"),
                  tcpreplay.isEmpty() ? QStringLiteral("not installed (apt-get install tcpreplay)")
                                      : QStringLiteral("did not run (it sends as root)"));
        return;
    }
    PrintFigure(QStringLiteral("tcpreplay --topspeed, the same file onto lo, start to exit"),
                anchor, QStringLiteral("datagrams/s"), 0);
    PrintFigure(QStringLiteral("cli replay, share of tcpreplay's rate"), cli / anchor,
                QStringLiteral("x"));
}

// A UDP flood into the receiver of a UDP-mode window, from a sender in another process: what
// reached the day file, and how long the window's event loop was held up meanwhile.
#include "benchsupport.h"
#include "figures.h"

#include "activity/activitylist.h"
#include "app/frmudp.h"

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QUdpSocket>

namespace {

constexpr int kDatagrams = 100000;

struct FloodResult {
    qint64 sent = 0;
    qint64 logged = 0;
    double arrivalsPerSecond = 0;
    double longestGapMs = 0;
};

quint16 FreeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::Any, 0);
    return probe.localPort();
}

qint64 LoggedArrivals(const QString& dayFile)
{
    QFile in(dayFile);
    if (!in.open(QIODevice::ReadOnly))
        return 0;
    qint64 count = 0;
    while (!in.atEnd()) {
        if (in.readLine().mid(40, 4) == "RCV[")
            ++count;
    }
    return count;
}

FloodResult Flood(int rate)
{
    ScratchProgramFolder folder;
    FloodResult result;
    frmUDP window(QStringLiteral("udp"));
    window.show();
    const quint16 port = FreeUdpPort();
    window.txtRcvPort->setText(QString::number(port));
    window.cmdRcvOpen->click();

    QElapsedTimer clock;
    clock.start();
    qint64 arrivals = 0;
    qint64 firstNs = -1;
    qint64 lastNs = 0;
    QObject::connect(window.List2, &ActivityList::lineAdded, [&] {
        lastNs = clock.nsecsElapsed();
        if (firstNs < 0)
            firstNs = lastNs;
        ++arrivals;
    });
    TickGapProbe probe;
    probe.start();
    QProcess sender;
    sender.start(QStringLiteral(BENCH_UDPSENDER),
                 {QString::number(port), QString::number(kDatagrams), QString::number(rate)});
    SpinUntil([&] { return sender.state() == QProcess::NotRunning; }, 120000);
    result.sent = sender.readAllStandardOutput().trimmed().toLongLong();
    // Done when everything sent has arrived, or nothing more has for half a second.
    qint64 seen = -1;
    qint64 quietSinceNs = clock.nsecsElapsed();
    SpinUntil(
        [&] {
            if (arrivals != seen) {
                seen = arrivals;
                quietSinceNs = clock.nsecsElapsed();
            }
            return arrivals >= result.sent || clock.nsecsElapsed() - quietSinceNs > 500000000;
        },
        300000);
    probe.stop();
    window.close();

    result.logged = LoggedArrivals(folder.dayFile());
    result.longestGapMs = probe.longestGapMs();
    if (arrivals > 1 && lastNs > firstNs)
        result.arrivalsPerSecond = (arrivals - 1) / ((lastNs - firstNs) / 1e9);
    return result;
}

void Print(const QString& run, const FloodResult& result)
{
    const double loss =
        result.sent > 0 ? 100.0 * double(result.sent - result.logged) / double(result.sent) : 0;
    PrintFigure(run + QStringLiteral(", datagrams sent"), double(result.sent),
                QStringLiteral("datagrams"), 0);
    PrintFigure(run + QStringLiteral(", RCV lines logged"), double(result.logged),
                QStringLiteral("lines"), 0);
    PrintFigure(run + QStringLiteral(", loss"), loss, QStringLiteral("%"));
    PrintFigure(run + QStringLiteral(", arrivals"), result.arrivalsPerSecond,
                QStringLiteral("per s"), 0);
    PrintFigure(run + QStringLiteral(", longest 10 ms tick gap"), result.longestGapMs,
                QStringLiteral("ms"), 1);
}

} // namespace

void UdpFloodFigures()
{
    Print(QStringLiteral("udp flat out"), Flood(0));
    Print(QStringLiteral("udp 20000/s"), Flood(20000));
}

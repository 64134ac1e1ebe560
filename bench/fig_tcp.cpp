// A peer in another process pushes 64 MB into the client link of a TCP-mode window: how fast it
// is shown and logged, and whether memory stays flat as the list clears itself.
#include "benchsupport.h"
#include "figures.h"

#include "activity/activitylist.h"
#include "app/frmudp.h"
#include "net/clientlink.h"

#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>

namespace {

constexpr qint64 kBytes = 64LL * 1024 * 1024;
constexpr int kChunk = 4096;
constexpr int kClearings = 3;

// Payload bytes in the RCV lines of the day file (two hexadecimal digits each).
qint64 LoggedBytes(const QString& dayFile)
{
    QFile in(dayFile);
    if (!in.open(QIODevice::ReadOnly))
        return 0;
    qint64 bytes = 0;
    while (!in.atEnd()) {
        const QByteArray line = in.readLine();
        if (line.mid(40, 4) == "RCV[")
            bytes += (line.size() - 40 - 4 - 3) / 2; // "RCV[", "]" and CR LF around the digits
    }
    return bytes;
}

} // namespace

void TcpFloodFigures()
{
    ScratchProgramFolder folder;
    frmUDP window{folder.log, QString()};
    window.show();
    QProcess pusher;
    pusher.start(QStringLiteral(BENCH_TCPPUSHER),
                 {QString::number(kBytes), QString::number(kChunk)});
    if (!pusher.waitForReadyRead(10000))
        return;
    const QString port = QString::fromLatin1(pusher.readLine().trimmed());

    QElapsedTimer clock;
    qint64 shown = 0;
    qint64 lines = 0;
    std::vector<double> residentAfterClearing;
    auto* list1 = window.findChild<ActivityList*>(QStringLiteral("List1"));
    // Each arrival, after its line is shown.
    QObject::connect(&window.Client(), &ClientLink::Arrived, [&](const Arrival& arrival) {
        if (!clock.isValid())
            clock.start();
        shown += arrival.bytes.size();
        ++lines;
        // The first line after the list emptied itself; noted here rather than when the view
        // hears of it, which a fast flow can outrun by the whole 64 MB.
        if (list1->count() == 1 && residentAfterClearing.size() < kClearings)
            residentAfterClearing.push_back(ResidentMb());
    });

    window.findChild<QLineEdit*>(QStringLiteral("txtIP"))->setText(QStringLiteral("127.0.0.1"));
    window.findChild<QLineEdit*>(QStringLiteral("txtPortNo"))->setText(port);
    window.findChild<QPushButton*>(QStringLiteral("cmdOneShot"))
        ->click(); // starts the connection supervision
    for (int tick = 0; tick < 5; ++tick)
        window.Client().tmrCONNECT_Timer();
    SpinUntil([&] { return shown >= kBytes; }, 600000);
    const double seconds = clock.isValid() ? clock.nsecsElapsed() / 1e9 : 0;
    window.close();
    pusher.waitForFinished(70000);

    PrintFigure(QStringLiteral("tcp, bytes shown"), double(shown), QStringLiteral("B"), 0);
    PrintFigure(QStringLiteral("tcp, RCV lines"), double(lines), QStringLiteral("lines"), 0);
    PrintFigure(QStringLiteral("tcp, bytes logged"), double(LoggedBytes(folder.dayFile())),
                QStringLiteral("B"), 0);
    PrintFigure(QStringLiteral("tcp, shown and logged"),
                seconds > 0 ? shown / (1024.0 * 1024.0) / seconds : 0, QStringLiteral("MB/s"));
    for (size_t i = 0; i < residentAfterClearing.size(); ++i)
        PrintFigure(QStringLiteral("tcp, resident after clearing %1").arg(i + 1),
                    residentAfterClearing[i], QStringLiteral("MB"), 1);
    if (residentAfterClearing.size() == kClearings)
        PrintFigure(QStringLiteral("tcp, resident change from clearing 2 to 3"),
                    100.0 * (residentAfterClearing[2] / residentAfterClearing[1] - 1),
                    QStringLiteral("%"), 1);
}

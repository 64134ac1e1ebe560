// Start-up of peertest against a bare Qt window program, both run from a scratch folder and
// timed the same way: each gets a free port on its command line and opens a listener on it when
// its window is first shown, so the time from starting the process to the first accepted
// connection is the time to the window shown.
#include "benchsupport.h"
#include "figures.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kWarmUps = 2;
constexpr int kRuns = 15;

quint16 FreeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

bool Accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    ::close(fd);
    return connected;
}

double TimeToShownMs(const QString& program, const QStringList& extra = {})
{
    const quint16 port = FreeTcpPort();
    QProcess process;
    QElapsedTimer clock;
    clock.start();
    process.start(program, QStringList{QString::number(port)} + extra);
    while (!Accepts(port) && clock.elapsed() < 20000)
        QThread::usleep(100);
    const double ms = clock.nsecsElapsed() / 1e6;
    process.terminate();
    if (!process.waitForFinished(10000))
        process.kill();
    return ms;
}

// A copy in a scratch folder, so peertest's day file lands there.
QString CopyInto(const QTemporaryDir& dir, const QString& original)
{
    const QString copy = dir.filePath(QFileInfo(original).fileName());
    QFile::copy(original, copy);
    return copy;
}

} // namespace

void StartUpFigures()
{
    QTemporaryDir peertestDir;
    QTemporaryDir bareDir;
    const QString peertest = CopyInto(peertestDir, QStringLiteral(PEERTEST_BINARY));
    const QString bare = CopyInto(bareDir, QStringLiteral(BENCH_BAREWINDOW));
    std::vector<double> peertestMs;
    std::vector<double> bareMs;
    std::vector<double> bareTextMs;
    for (int run = 0; run < kWarmUps + kRuns; ++run) {
        const double p = TimeToShownMs(peertest);
        const double b = TimeToShownMs(bare);
        const double t = TimeToShownMs(bare, {QStringLiteral("text")});
        if (run >= kWarmUps) {
            peertestMs.push_back(p);
            bareMs.push_back(b);
            bareTextMs.push_back(t);
        }
    }
    const double p = Median(peertestMs);
    const double b = Median(bareMs);
    const double t = Median(bareTextMs);
    PrintFigure(QStringLiteral("start-up to window shown, peertest"), p, QStringLiteral("ms"), 1);
    PrintFigure(QStringLiteral("start-up to window shown, bare Qt window"), b, QStringLiteral("ms"),
                1);
    PrintFigure(QStringLiteral("start-up, ratio"), p / b, QStringLiteral("x"));
    PrintFigure(QStringLiteral("start-up to window shown, bare Qt window with a line of text"), t,
                QStringLiteral("ms"), 1);
    PrintFigure(QStringLiteral("start-up, ratio to the window with text"), p / t,
                QStringLiteral("x"));
}

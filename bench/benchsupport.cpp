#include "benchsupport.h"

#include "log/log1month.h"
#include "program/endprogram.h"

#include <QCoreApplication>
#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <QNetworkProxy>
#include <QUdpSocket>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

void PrintFigure(const QString& name, double value, const QString& unit, int decimals)
{
    std::printf("%s: %.*f %s\n", qPrintable(name), decimals, value, qPrintable(unit));
    std::fflush(stdout);
}

void PrintText(const QString& name, const QString& text)
{
    std::printf("%s: %s\n", qPrintable(name), qPrintable(text));
    std::fflush(stdout);
}

// User and system CPU of the process so far, in seconds.
double ProcessCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command's name, which may hold spaces, closed by the last ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = double(fields.at(11).toLongLong() + fields.at(12).toLongLong());
    return ticks / double(sysconf(_SC_CLK_TCK));
}

// The day file's size once it has stopped growing for two seconds (the last LOST line may
// follow its losses by a second).
void WaitUntilStill(const QString& dayFile)
{
    qint64 size = -1;
    QElapsedTimer still;
    still.start();
    while (still.elapsed() < 2000) {
        const qint64 now = QFileInfo(dayFile).size();
        if (now != size) {
            size = now;
            still.restart();
        }
        usleep(20000);
    }
}

quint16 FreeUdpPort()
{
    QUdpSocket probe;
    // Without a proxy to ask about: asking starts a thread of Qt's that stays for the run, and
    // while a second thread lives each system call on a descriptor costs the window more.
    probe.setProxy(QNetworkProxy::NoProxy);
    probe.bind(QHostAddress::Any, 0);
    return probe.localPort();
}

void CountRecord(const QString& dayFile, qint64& logged, qint64& lost)
{
    QFile in(dayFile);
    if (!in.open(QIODevice::ReadOnly))
        return;
    while (!in.atEnd()) {
        const QByteArray line = in.readLine();
        if (line.mid(40, 4) == "RCV[")
            ++logged;
        else if (line.mid(40, 5) == "LOST[")
            lost += line.mid(45, line.indexOf(']') - 45).toLongLong();
    }
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double ResidentMb()
{
    // statm: a handful of numbers, where status formats some fifty lines; it is sampled every
    // 10 ms while the window's CPU time is measured.
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> pages = statm.read(128).split(' ');
    static const double pageMb = double(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
    return pages.size() > 1 ? pages.at(1).toDouble() * pageMb : 0;
}

bool SpinUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer check;
    check.setInterval(5);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return done();
}

ScratchProgramFolder::ScratchProgramFolder()
{
    // Closing a window must not end the benchmark.
    SetEndProgram([] {});
}

ScratchProgramFolder::~ScratchProgramFolder()
{
    SetEndProgram({});
}

QString ScratchProgramFolder::dayFile() const
{
    return dir_.filePath(QDate::currentDate().toString(QStringLiteral("dd")) +
                         QStringLiteral(".LOG"));
}

TickGapProbe::TickGapProbe()
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    connect(&timer_, &QTimer::timeout, this, [this] {
        const qint64 now = clock_.nsecsElapsed();
        longestNs_ = std::max(longestNs_, now - lastNs_);
        lastNs_ = now;
    });
}

void TickGapProbe::start()
{
    clock_.start();
    lastNs_ = 0;
    longestNs_ = 0;
    timer_.start();
}

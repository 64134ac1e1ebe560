#include "benchsupport.h"

#include "app/endprogram.h"
#include "log/log1month.h"
#include "log/programfolder.h"

#include <QCoreApplication>
#include <QDate>
#include <QEventLoop>
#include <QFile>
#include <algorithm>
#include <cstdio>

void PrintFigure(const QString& name, double value, const QString& unit, int decimals)
{
    std::printf("%s: %.*f %s\n", qPrintable(name), decimals, value, qPrintable(unit));
    std::fflush(stdout);
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
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    // A /proc file reports no size, so it is read whole rather than line by line.
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return 0;
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
    SetProgramFolder(dir_.path());
    // Closing a window must not end the benchmark.
    SetEndProgram([] {});
    LogResetState();
}

ScratchProgramFolder::~ScratchProgramFolder()
{
    LogResetState();
    SetEndProgram({});
    SetProgramFolder(QString());
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

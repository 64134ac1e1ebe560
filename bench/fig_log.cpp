// One log line through LogWrite against the bare system calls it cannot do without: open for
// appending, write the same bytes, close, on a file beside the day file. (Appended between the
// log's own lines, the day file itself would end, each time, where the log's last line did not,
// as when another program writes to it, and the log would read its tail before every line.)
#include "benchsupport.h"
#include "figures.h"

#include "convert/codepage.h"
#include "log/log1month.h"
#include "log/zemfmt.h"

#include <QFile>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLines = 20000;

qint64 TimeNs(const std::function<void()>& work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return clock.nsecsElapsed();
}

void BareAppend(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, bytes.constData(), bytes.size());
    ::close(fd);
}

} // namespace

void LogLineFigures()
{
    ScratchProgramFolder folder;
    DayLog& log = folder.log;
    log.LogStart(QStringLiteral("bench"), QString());
    // What an activity list hands over: a line that already carries its own stamp.
    const QString text =
        log.Stamp().Stamped(QStringLiteral("RCV[30303136574743533232303030303030]"));
    const QByteArray path = QFile::encodeName(log.LogCurrentFile() + QStringLiteral(".bare"));
    const QByteArray bytes = TextToAnsiBytes(log.Stamp().Stamped(text)) + "\r\n";

    std::vector<double> logWrite;
    std::vector<double> bare;
    // Taken in turns, so both see the same file, caches and machine load.
    for (int i = 0; i < kLines; ++i) {
        logWrite.push_back(TimeNs([&] { log.LogWrite(text); }) / 1000.0);
        bare.push_back(TimeNs([&] { BareAppend(path, bytes); }) / 1000.0);
    }
    log.LogEnd();
    const double logWriteUs = Median(logWrite);
    const double bareUs = Median(bare);
    PrintFigure(QStringLiteral("log line, LogWrite"), logWriteUs, QStringLiteral("us"));
    PrintFigure(QStringLiteral("log line, bare open/append/close"), bareUs, QStringLiteral("us"));
    PrintFigure(QStringLiteral("log line, ratio"), logWriteUs / bareUs, QStringLiteral("x"));
}

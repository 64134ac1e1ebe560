#include "log/log1month.h"

#include "convert/conversions.h"

#include "log/clock.h"
#include "log/programfolder.h"
#include "log/textfile.h"
#include "log/weekday.h"
#include "log/zemfmt.h"

#include <QFile>
#include <QStringDecoder>
#include <optional>

namespace {

struct LogState {
    QString file;   // empty: no log started
    QString folder; // empty or ending in a separator
    QString title;
};

LogState& State()
{
    static LogState state;
    return state;
}

// Only the head of the first line matters, so a huge file is never read whole.
constexpr qint64 kFirstLinePeekBytes = 256;
constexpr qsizetype kDateLength = 10;

QString DefaultPrefix()
{
    return ProgramFolder() + QLatin1Char('/');
}

bool EndsInSeparator(const QString& folder)
{
    return folder.endsWith(QLatin1Char('/')) || folder.endsWith(QLatin1Char('\\')) ||
           folder.endsWith(QLatin1Char(':'));
}

// The first line of the file without its line end; empty optional when no line can be read.
std::optional<QString> ReadFirstLine(const QString& path)
{
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray head = in.read(kFirstLinePeekBytes);
    if (head.isEmpty())
        return std::nullopt;
    const qsizetype lineFeed = head.indexOf('\n');
    if (lineFeed >= 0) {
        head.truncate(lineFeed);
        if (head.endsWith('\r'))
            head.chop(1);
    }
    QStringDecoder decoder("windows-31j");
    return decoder.decode(head);
}

void EmptyFile(const QString& path)
{
    QFile out(path);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.close();
}

} // namespace

void LogStart(const QString& title, const QString& folder)
{
    LogFolderSet(folder);
    State().file = LogDayFilePath();
    State().title = title;
    LogResetIfOld();
    LogWrite(QStringLiteral("Start ") + State().title);
}

void LogEnd()
{
    LogWrite(QStringLiteral("End ") + State().title);
    State().file.clear();
    State().title.clear();
}

void LogWrite(const QString& text)
{
    const QString file = LogCurrentFile();
    if (file.isEmpty())
        return;
    TextFileAppendLine(file, StampedLine(text));
}

QString LogCurrentFile()
{
    return State().file.isEmpty() ? WeekdayLogFile() : State().file;
}

void LogResetIfOld()
{
    const QString file = LogCurrentFile();
    const QString today = FixedDateText(Now());
    const std::optional<QString> first = ReadFirstLine(file);
    if (!first)
        return;
    if (first->size() > kDateLength && first->left(kDateLength) != today)
        EmptyFile(file);
}

void LogFolderSet(const QString& folder)
{
    QString trimmed = TrimSpaces(folder);
    if (!trimmed.isEmpty() && !EndsInSeparator(trimmed))
        trimmed += QLatin1Char('/');
    State().folder = trimmed;
}

QString LogDayFilePath()
{
    const QString ymd = TodayYmd();
    if (ymd.isEmpty())
        return QString();
    const QString prefix = State().folder.isEmpty() ? DefaultPrefix() : State().folder;
    return prefix + ymd.right(2) + QStringLiteral(".LOG");
}

QString WeekdayLogFile()
{
    const QString weekday = YmdWeekdayName(TodayYmd());
    if (weekday.isEmpty())
        return QString();
    return DefaultPrefix() + weekday.left(3);
}

QString LogFolder()
{
    return State().folder;
}

QString LogFile()
{
    return State().file;
}

QString LogTitle()
{
    return State().title;
}

void LogResetState()
{
    State() = LogState();
}

#include "activity/activityrecord.h"

#include "log/log1month.h"
#include "log/zemfmt.h"

#include <cstring>

namespace {

// The list's line is stamped afresh after the log's, as the log may have taken a while; within
// the same second it is the logged line itself, shared rather than built again. The clock is
// read once either way.
QString StampedAfresh(const QString& stamped, const QString& text)
{
    const QStringView stamp = NowStamp();
    if (stamped.size() == stamp.size() + text.size() &&
        std::memcmp(stamp.data(), stamped.constData(), size_t(stamp.size()) * sizeof(QChar)) == 0)
        return stamped;
    return stamp.toString() + text;
}

} // namespace

void RecordActivity(const QString& text, const std::function<void(const QString&)>& show)
{
    // The log works again: what it lost is told first, in the log and in the list.
    if (LogLinesNotWritten() > 0) {
        const QString notice = StampedLine(LogNotWrittenNotice(LogLinesNotWritten()));
        if (LogWriteNotice(notice))
            show(notice);
    }
    // Written into the buffer of the line before, as the list keeps a copy of its own. Shared
    // while in use, so a line recorded meanwhile is written into a buffer of its own.
    static QString lastStamped;
    PutStampedLine(lastStamped, text);
    const QString stamped = lastStamped;
    const LogWriteResult logged = LogWrite(stamped);
    show(StampedAfresh(stamped, text));
    if (!logged.failure.isEmpty())
        show(LogFailureLine(logged.failure));
}

QString LogFailureLine(const QString& failure)
{
    return StampedLine(QStringLiteral("Log Err: ") + failure);
}

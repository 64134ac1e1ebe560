#include "log/activityrecord.h"

#include "log/log1month.h"
#include "log/zemfmt.h"

#include <cstring>

namespace {

// The list's line is stamped afresh after the log's, as the log may have taken a while; within
// the same second it is the logged line itself, neither built again nor copied. The clock is read
// once either way; a line of a later second is built into `later`.
const QString& StampedAfresh(LineStamp& stamp, const QString& stamped, const QString& text,
                             QString& later)
{
    const QStringView now = stamp.Now();
    if (stamped.size() == now.size() + text.size() &&
        std::memcmp(now.data(), stamped.constData(), size_t(now.size()) * sizeof(QChar)) == 0)
        return stamped;
    later = now.toString() + text;
    return later;
}

} // namespace

void ActivityRecord::Record(const QString& text, const std::function<void(const QString&)>& show)
{
    // When the log works again, what it lost is told first, in the log and in the list.
    const qint64 lost = log_.LogLinesNotWritten();
    const QString notice =
        lost > 0 ? log_.Stamp().Stamped(DayLog::LogNotWrittenNotice(lost)) : QString();
    // Shared while in use, so a line recorded meanwhile is written into a buffer of its own.
    log_.Stamp().PutStamped(lastStamped_, text);
    const QString stamped = lastStamped_;
    const LogWriteResult logged = log_.LogWrite(stamped, notice);
    if (logged.written && !notice.isEmpty())
        show(notice);
    QString later;
    show(StampedAfresh(log_.Stamp(), stamped, text, later));
    if (!logged.failure.isEmpty())
        show(LogFailureLine(logged.failure));
}

QString ActivityRecord::LogFailureLine(const QString& failure)
{
    return log_.Stamp().Stamped(QStringLiteral("Log Err: ") + failure);
}

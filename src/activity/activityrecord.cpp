#include "activity/activityrecord.h"

#include "log/log1month.h"
#include "log/zemfmt.h"

void RecordActivity(const QString& text, const std::function<void(const QString&)>& show)
{
    // The log works again: what it lost is told first, in the log and in the list.
    if (LogLinesNotWritten() > 0) {
        const QString notice = StampedLine(LogNotWrittenNotice(LogLinesNotWritten()));
        if (LogWriteNotice(notice))
            show(notice);
    }
    // The list's line is stamped afresh after the log's, as the log may have taken a while.
    const LogWriteResult logged = LogWrite(StampedLine(text));
    show(StampedLine(text));
    if (!logged.failure.isEmpty())
        show(LogFailureLine(logged.failure));
}

QString LogFailureLine(const QString& failure)
{
    return StampedLine(QStringLiteral("Log Err: ") + failure);
}

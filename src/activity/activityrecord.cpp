#include "activity/activityrecord.h"

#include "log/log1month.h"
#include "log/zemfmt.h"

QStringList RecordActivity(const QString& text)
{
    QStringList shown;
    // The log works again: what it lost is told first, in the log and in the list.
    if (LogLinesNotWritten() > 0) {
        const QString notice = StampedLine(LogNotWrittenNotice(LogLinesNotWritten()));
        if (LogWriteNotice(notice))
            shown << notice;
    }
    const LogWriteResult logged = LogWrite(StampedLine(text));
    shown << StampedLine(text);
    if (!logged.failure.isEmpty())
        shown << LogFailureLine(logged.failure);
    return shown;
}

QString LogFailureLine(const QString& failure)
{
    return StampedLine(QStringLiteral("Log Err: ") + failure);
}

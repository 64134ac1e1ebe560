#pragma once

#include <QString>
#include <functional>

class DayLog;

// What an activity message becomes, apart from any list: the message is stamped with the date
// and time and logged, and the lines a list is to show are handed to `show`, in order, each
// stamped afresh. When the log had lost lines and can write again, a "Log Err: N lines not
// written." notice is logged and comes first; when this message starts a run of log failures, a
// "Log Err: " line with the reason follows it.
class ActivityRecord {
public:
    explicit ActivityRecord(DayLog& log) : log_(log) {}

    void Record(const QString& text, const std::function<void(const QString&)>& show);

    // The stamped "Log Err: " + the failure, which the log itself cannot hold.
    QString LogFailureLine(const QString& failure);

    DayLog& Log() { return log_; }

private:
    DayLog& log_;
    // Written into the buffer of the line before, as a list keeps a copy of its own.
    QString lastStamped_;
};

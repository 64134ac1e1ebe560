#pragma once

#include "log/clock.h"
#include "log/failurerun.h"
#include "log/textfile.h"
#include "log/zemfmt.h"

#include <QString>

// The one-month run log: one file per day of the month ("24.LOG") in the log folder, emptied
// when the log starts on a date other than the one at the head of its first line. Every line is
// date, space, time, space, text, with every control character but TAB in the text written as
// "<hh>", so one line stays one physical line; each is appended with its own open and close.
// Neither the day file nor the emptying follows a symbolic link or touches anything but a regular
// file. A line that cannot be written is counted, and its caller is told why once per run of
// failures.

// What became of one line handed to LogWrite.
struct LogWriteResult {
    bool written = false;
    // Only for the first line of a run of failures: the reason and the file's path, shown after
    // "Log Err: ", e.g. "Is a directory (/tmp/x/07.LOG)".
    QString failure;
};

class DayLog {
public:
    // `programFolder` is where the log lives when LogStart names no folder, and where the weekday
    // file goes; `clock` dates the files and stamps the lines.
    DayLog(const QString& programFolder, const Clock& clock = Clock());
    DayLog(const DayLog&) = delete;
    DayLog& operator=(const DayLog&) = delete;

    // Fixes the folder (empty: the program's folder) and today's day file, applies the one-month
    // rule, then writes "Start " and the title; the result is that line's.
    LogWriteResult LogStart(const QString& title, const QString& folder);

    // Writes "End " and the title, then forgets the day file and the title (the folder stays).
    void LogEnd();

    // Appends one stamped line to the current file; nothing, and no failure, when no file can be
    // named. A line written ends the current run of failures. A `notice` (already stamped) goes
    // in first, in the same write: it is written only with the line, so a run of failures that
    // goes on is not broken up by notices short enough to fit where the line does not.
    LogWriteResult LogWrite(const QString& text, const QString& notice = QString());

    // Lines not written since the last line that was (the current run of failures); 0 when none.
    qint64 LogLinesNotWritten() const { return failures_.Count(); }

    // The text of that notice: "Log Err: " + the count + " lines not written.".
    static QString LogNotWrittenNotice(qint64 lines);

    // The file lines go to now: the day file while a log is started, otherwise the weekday file.
    QString LogCurrentFile() const;

    // Empties the current file when its first line is longer than ten characters and does not
    // begin with today's date. A missing, unreadable or empty file is left alone, and so is
    // anything but a regular file (a symbolic link included).
    void LogResetIfOld();

    // Trims spaces and makes the folder end in a separator; empty means the program's folder.
    void LogFolderSet(const QString& folder);

    // Today's day file in the log folder, or empty when today's date cannot be made out.
    QString LogDayFilePath() const;

    // The file for lines written while no log is started: the first three characters of today's
    // weekday name, no extension, in the program's folder. Empty when it cannot be named.
    QString WeekdayLogFile() const;

    QString Folder() const { return folder_; }
    QString File() const { return file_; }
    QString Title() const { return title_; }
    // The stamp of this log's lines, for lines shown beside them.
    LineStamp& Stamp() { return stamp_; }

private:
    const QString& CurrentFile(QString& weekdayFile) const;
    QString DefaultPrefix() const;
    QString AppendStamped(const QString& file, const QString& text, const QString& notice);

    const QString programFolder_;
    const Clock clock_;
    LineStamp stamp_{clock_};
    TextFile textFile_;
    QString file_;   // empty: no log started
    QString folder_; // empty or ending in a separator
    QString title_;
    FailureRun failures_;
    QByteArray line_; // the last line's bytes, its buffer used again by the next
};

#pragma once

#include <QString>

// The one-month run log: one file per day of the month ("24.LOG") in the log folder, emptied
// when the log starts on a date other than the one at the head of its first line. Every line is
// date, space, time, space, text; each is appended with its own open and close. Failures are
// swallowed: a line that cannot be written is dropped.

// Fixes the folder (empty: the program's folder) and today's day file, applies the one-month
// rule, then writes "Start " and the title.
void LogStart(const QString& title, const QString& folder);

// Writes "End " and the title, then forgets the day file and the title (the folder stays).
void LogEnd();

// Appends one stamped line to the current file; nothing when no file can be named.
void LogWrite(const QString& text);

// The file lines go to now: the day file while a log is started, otherwise the weekday file.
QString LogCurrentFile();

// Empties the current file when its first line is longer than ten characters and does not
// begin with today's date. A missing, unreadable or empty file is left alone.
void LogResetIfOld();

// Trims spaces and makes the folder end in a separator; empty means the program's folder.
void LogFolderSet(const QString& folder);

// Today's day file in the log folder, or empty when today's date cannot be made out.
QString LogDayFilePath();

// The file for lines written while no log is started: the first three characters of today's
// weekday name, no extension, in the program's folder. Empty when it cannot be named.
QString WeekdayLogFile();

// The module's state, for tests.
QString LogFolder();
QString LogFile();
QString LogTitle();
void LogResetState();

#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

class HeldFolder;

// The one-month rule that the day log and the capture share: one file a day of the month, named
// by the day's two digits; never reached through a symbolic link, never anything but a regular
// file, never waiting on a FIFO; emptied when it holds another day's records.
namespace MonthFile {

// The day's file name: the last two digits of the eight-digit date, then the extension.
QString Name(const QString& ymd, const QString& extension);

// Creates the folder when it is missing; false when it cannot be.
bool MakeFolder(const QString& folder);

// Opens the file at `path` through `held` with O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC added to
// `flags`. On failure returns -1 and why not: the system's words, or "Not a regular file" for a
// symbolic link. Anything else that is not a regular file is the caller's to turn away (with
// RegularFileSize), where it can do so cheaply.
int Open(HeldFolder& held, const QByteArray& path, int flags, QString& failure);

// Reads up to `headBytes` from the start of the open file and empties it when `ofAnotherDay`
// says so for what was read. An empty or unreadable file, or anything but a regular file, is
// left alone. True when it was emptied.
bool EmptyIfOfAnotherDay(int fd, qint64 headBytes,
                         const std::function<bool(const QByteArray& head)>& ofAnotherDay);

QString NotRegularFile();
QString SystemReason(int error);

} // namespace MonthFile

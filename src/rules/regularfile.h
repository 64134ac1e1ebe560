#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// A file a person names to be read whole (rules, a script): whatever stands at the path, reading
// it neither blocks (a FIFO) nor runs on without end (a device such as /dev/zero, or a file in
// /proc whose size says nothing). A symbolic link to a regular file is followed.
struct RegularFileRead {
    enum class Outcome { Read, NotRegular, TooLarge, Failed };
    Outcome outcome = Outcome::Failed;
    QByteArray bytes; // Read: the whole file
    QString reason;   // Failed: the system's words
};

// Reads at most `limit` + 1 bytes: more than `limit` is TooLarge, whatever the file's size says.
RegularFileRead ReadRegularFile(const QString& path, qint64 limit);

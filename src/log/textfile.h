#pragma once

#include "log/heldfolder.h"

#include <QByteArray>
#include <QString>
#include <functional>

// Text files that must stay sound when something else stands at their path: nothing here
// follows a symbolic link or touches anything but a regular file, and nothing blocks on a FIFO.
// One object appends line after line to the files of one log; what it remembers between lines
// (the folder held open, where its last line ended) is its own.
class TextFile {
public:
    // Appends the line, in the Windows-31J code page and ended by CR LF, to the file, creating
    // the file (never its folder) when missing. The file is opened and closed for this one line.
    // A file that does not end in CR LF (a line torn off by something else) gets one first, so
    // the line starts a line of its own. A write that stops short is cut back off, unless another
    // program has appended behind it meanwhile. Returns an empty text when the line was written,
    // otherwise why not: the system's words, or "Not a regular file".
    QString AppendLine(const QString& file, const QString& line);

    // The same for a line already in the code page and ended by CR LF.
    QString AppendEncoded(const QString& file, const QByteArray& line);

    // Reads up to `headBytes` from the start of the file and empties it, through the same open
    // file, when `shouldEmpty` says so for what was read. A missing, empty or unreadable file, or
    // anything but a regular file, is left alone. Failures are not reported.
    void EmptyIf(const QString& file, qint64 headBytes,
                 const std::function<bool(const QByteArray& head)>& shouldEmpty);

    // Where this object's last line into a file ended. While the file still has that size it
    // ends in this object's CR LF, and its tail need not be read.
    struct LastLineEnd {
        QByteArray path;
        qint64 size = -1;
    };

private:
    const QByteArray& SystemPath(const QString& file);

    HeldFolder held_;
    // The log appends to the same file line after line; its name is encoded for the system once.
    QString lastFile_;
    QByteArray lastPath_;
    LastLineEnd lastEnd_;
};

#include "log/textfile.h"

#include "convert/codepage.h"

#include <QFile>

bool TextFileAppendLine(const QString& file, const QString& line)
{
    const QByteArray bytes = TextToAnsiBytes(line) + "\r\n";
    // Unbuffered: the line goes to the system in one write, and a failing write is seen here
    // rather than in a flush at close.
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    const bool written = out.write(bytes) == bytes.size();
    out.close();
    return !written;
}

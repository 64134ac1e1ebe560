#include "log/textfile.h"

#include "convert/codepage.h"

#include <QFile>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The log appends to the same file line after line; its name is encoded for the system once.
const QByteArray& SystemPath(const QString& file)
{
    static QString lastFile;
    static QByteArray lastPath;
    if (file != lastFile || lastPath.isEmpty()) {
        lastPath = QFile::encodeName(file);
        lastFile = file;
    }
    return lastPath;
}

} // namespace

bool TextFileAppendLine(const QString& file, const QString& line)
{
    const QByteArray bytes = TextToAnsiLine(line);
    // Straight to the system: one open, one write of the whole line, one close, and a failing
    // write is seen here. (A file object costs as much again as these three calls.)
    const int fd =
        ::open(SystemPath(file).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return true;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    return !written;
}

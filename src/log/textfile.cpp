#include "log/textfile.h"

#include "convert/codepage.h"
#include "log/fileends.h"
#include "log/heldfolder.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// O_NONBLOCK: a FIFO at the path fails or is turned away at once instead of waiting for a reader.
constexpr int kNoLinkNoWait = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// The log appends to the same file line after line; its name is encoded for the system once.
const QByteArray& SystemPath(const QString& file)
{
    static QString lastFile;
    static QByteArray lastPath;
    // The file's name is nearly always the very text of the last call, which needs no comparing.
    const bool sameText =
        file.constData() == lastFile.constData() && file.size() == lastFile.size();
    if (lastPath.isEmpty() || (!sameText && file != lastFile)) {
        lastPath = QFile::encodeName(file);
        lastFile = file;
    }
    return lastPath;
}

QString NotRegularFile()
{
    return QStringLiteral("Not a regular file");
}

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// O_NOFOLLOW turns a symbolic link at the path into a "loop"; it is named for what it is.
QString OpenFailure(const char* path, int error)
{
    struct stat status = {};
    if (error == ELOOP && ::lstat(path, &status) == 0 && S_ISLNK(status.st_mode))
        return NotRegularFile();
    return SystemReason(error);
}

// Where this program's last line into the file ended. While the file still has that size it
// ends in this program's CR LF, and its tail need not be read.
struct LastLineEnd {
    QByteArray path;
    qint64 size = -1;
};

LastLineEnd& LastEnd()
{
    static LastLineEnd last;
    return last;
}

void NoteLastEnd(const QByteArray& path, qint64 size)
{
    LastLineEnd& last = LastEnd();
    // The same buffer is the same path; copying it would cost two atomic counts a line.
    if (path.constData() != last.path.constData() || path.size() != last.path.size())
        last.path = path;
    last.size = size;
}

bool EndsWhereLastLineDid(const QByteArray& path, qint64 size)
{
    const LastLineEnd& last = LastEnd();
    const bool samePath =
        path.constData() == last.path.constData() && path.size() == last.path.size();
    return size > 0 && size == last.size && (samePath || path == last.path);
}

// Where the next line goes, or -1 for anything but a regular file. Nearly always the file is as
// this program's last line left it, which one seek to its end tells: a FIFO cannot seek, and a
// device seeks to 0 or to its own size, never to exactly where a line ended. Only a file someone
// else has been at is asked its type, and has its tail read: a line torn off by a killed run, a
// power cut or another program is left as it is, and the next line starts on a line of its own.
qint64 LineStart(int fd, const QByteArray& path, bool& afterTornLine)
{
    qint64 size = qint64(::lseek(fd, 0, SEEK_END));
    afterTornLine = false;
    if (EndsWhereLastLineDid(path, size))
        return size;
    if (!RegularFileSize(fd, size))
        return -1;
    afterTornLine = !EndsInLineEnd(fd, size);
    return size;
}

// What a failed write left of the line: `written` bytes from `start` (-1 until a write stopped
// short, so the common path asks for no file position).
struct PartWritten {
    qint64 start = -1;
    qint64 written = 0;
};

// A write that stops short (disk full, file size limit) is carried on, so the system says why.
// Leaves errno set when it fails.
bool WriteAll(int fd, const QByteArray& bytes, PartWritten& part)
{
    const char* data = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        if (part.start < 0 && size_t(written) < left)
            part.start = qint64(::lseek(fd, 0, SEEK_CUR)) - written;
        part.written += written;
        data += written;
        left -= size_t(written);
    }
    return true;
}

// The line goes in whole or what went in of it is cut back off, so no torn line stays to have
// the next one glued onto it; unless another program has appended behind it meanwhile, whose line
// is worth more than the tidiness of ours.
QString AppendWhole(int fd, const QByteArray& path, const QByteArray& line)
{
    bool afterTornLine = false;
    const qint64 sizeBefore = LineStart(fd, path, afterTornLine);
    if (sizeBefore < 0)
        return NotRegularFile();
    const QByteArray afterLineEnd = afterTornLine ? QByteArrayLiteral("\r\n") + line : QByteArray();
    const QByteArray& bytes = afterTornLine ? afterLineEnd : line;
    PartWritten part;
    if (WriteAll(fd, bytes, part)) {
        NoteLastEnd(path, sizeBefore + bytes.size());
        return QString();
    }
    const int error = errno;
    LastEnd() = {};
    UndoShortAppend(fd, part.start, part.written);
    return SystemReason(error);
}

qint64 ReadHead(int fd, QByteArray& head)
{
    for (;;) {
        const ssize_t got = ::read(fd, head.data(), size_t(head.size()));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

} // namespace

QString TextFileAppendLine(const QString& file, const QString& line)
{
    return TextFileAppendEncoded(file, TextToAnsiLine(line));
}

QString TextFileAppendEncoded(const QString& file, const QByteArray& bytes)
{
    // Straight to the system: one open, one write of the whole line, one close. (A file object
    // costs as much again as these three calls.)
    const QByteArray& path = SystemPath(file);
    const int fd = OpenThroughHeldFolder(path, O_WRONLY | O_APPEND | O_CREAT | kNoLinkNoWait, 0666);
    if (fd < 0)
        return OpenFailure(path.constData(), errno);
    QString failure = AppendWhole(fd, path, bytes);
    if (::close(fd) != 0 && failure.isEmpty())
        failure = SystemReason(errno);
    return failure;
}

void TextFileEmptyIf(const QString& file, qint64 headBytes,
                     const std::function<bool(const QByteArray& head)>& shouldEmpty)
{
    // Emptied through the descriptor that was checked, never by opening the path again.
    const int fd = ::open(SystemPath(file).constData(), O_RDWR | kNoLinkNoWait);
    if (fd < 0)
        return;
    qint64 size = 0;
    QByteArray head(qsizetype(headBytes), Qt::Uninitialized);
    if (RegularFileSize(fd, size)) {
        const qint64 got = ReadHead(fd, head);
        head.truncate(qsizetype(qMax<qint64>(got, 0)));
        if (!head.isEmpty() && shouldEmpty(head)) {
            // When this fails the old lines stay and the new ones follow them.
            [[maybe_unused]] const int emptied = ::ftruncate(fd, 0);
        }
    }
    ::close(fd);
}

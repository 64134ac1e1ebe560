#include "log/textfile.h"

#include "convert/codepage.h"
#include "log/fileends.h"
#include "log/heldfolder.h"
#include "log/linecalls.h"
#include "log/monthfile.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long a line that does not end yet is watched before it counts as torn: a file left torn
// costs this once, the next line ending it.
constexpr int kLooksAtTornLine = 5;
constexpr useconds_t kTornLinePauseUs = 200;

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
        const ssize_t written = LineWrite(fd, data, left);
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

} // namespace

const QByteArray& TextFile::SystemPath(const QString& file)
{
    // The file's name is nearly always the very text of the last call, which needs no comparing.
    const bool sameText =
        file.constData() == lastFile_.constData() && file.size() == lastFile_.size();
    if (lastPath_.isEmpty() || (!sameText && file != lastFile_)) {
        lastPath_ = QFile::encodeName(file);
        lastFile_ = file;
    }
    return lastPath_;
}

// Every line passes through what follows: file-local, so the compiler folds it into the append.
namespace {

using LastLineEnd = TextFile::LastLineEnd;

void NoteLastEnd(LastLineEnd& last, const QByteArray& path, qint64 size)
{
    // The same buffer is the same path; copying it would cost two atomic counts a line.
    if (path.constData() != last.path.constData() || path.size() != last.path.size())
        last.path = path;
    last.size = size;
}

bool EndsWhereLastLineDid(const LastLineEnd& last, const QByteArray& path, qint64 size)
{
    const bool samePath =
        path.constData() == last.path.constData() && path.size() == last.path.size();
    return size > 0 && size == last.size && (samePath || path == last.path);
}

// Whether the file of `size` bytes ends torn, or -1 for anything but a regular file. Another copy
// of the program appending to the file may be caught halfway through its line: each look waits
// for the writes under way to end first, so such a line is seen whole. A torn line stays torn.
int EndsTorn(int fd, qint64& size)
{
    bool torn = !EndsInLineEnd(fd, size);
    for (int look = 0; torn && look < kLooksAtTornLine; ++look) {
        ::usleep(kTornLinePauseUs);
        WaitForWritesUnderWay(fd);
        if (!RegularFileSize(fd, size))
            return -1;
        torn = !EndsInLineEnd(fd, size);
    }
    return torn ? 1 : 0;
}

// Where the next line goes, or -1 for anything but a regular file. Nearly always the file is as
// this object's last line left it, which one seek to its end tells: a FIFO cannot seek, and a
// device seeks to 0 or to its own size, never to exactly where a line ended. Only a file someone
// else has been at is asked its type, and has its tail read: a line torn off by a killed run, a
// power cut or another program is left as it is, and the next line starts on a line of its own.
qint64 LineStart(int fd, const QByteArray& path, const LastLineEnd& last, bool& afterTornLine)
{
    qint64 size = qint64(::lseek(fd, 0, SEEK_END));
    afterTornLine = false;
    if (EndsWhereLastLineDid(last, path, size))
        return size;
    if (!RegularFileSize(fd, size))
        return -1;
    const int torn = EndsTorn(fd, size);
    afterTornLine = torn == 1;
    return torn < 0 ? -1 : size;
}

// The line goes in whole or what went in of it is cut back off, so no torn line stays to have
// the next one glued onto it; unless another program has appended behind it meanwhile, whose line
// is worth more than the tidiness of ours.
QString AppendWhole(int fd, const QByteArray& path, const QByteArray& line, LastLineEnd& last)
{
    bool afterTornLine = false;
    const qint64 sizeBefore = LineStart(fd, path, last, afterTornLine);
    if (sizeBefore < 0)
        return MonthFile::NotRegularFile();
    const QByteArray afterLineEnd = afterTornLine ? QByteArrayLiteral("\r\n") + line : QByteArray();
    const QByteArray& bytes = afterTornLine ? afterLineEnd : line;
    PartWritten part;
    if (WriteAll(fd, bytes, part)) {
        NoteLastEnd(last, path, sizeBefore + bytes.size());
        return QString();
    }
    const int error = errno;
    last.size = -1;
    UndoShortAppend(fd, part.start, part.written);
    return MonthFile::SystemReason(error);
}

} // namespace

QString TextFile::AppendLine(const QString& file, const QString& line)
{
    return AppendEncoded(file, TextToAnsiLine(line));
}

QString TextFile::AppendEncoded(const QString& file, const QByteArray& bytes)
{
    // Straight to the system: one open, one write of the whole line, one close. (A file object
    // costs as much again as these three calls.)
    const QByteArray& path = SystemPath(file);
    QString failure;
    const int fd = MonthFile::Open(held_, path, O_WRONLY | O_APPEND | O_CREAT, failure);
    if (fd < 0)
        return failure;
    failure = AppendWhole(fd, path, bytes, lastEnd_);
    if (LineClose(fd) != 0 && failure.isEmpty())
        failure = MonthFile::SystemReason(errno);
    return failure;
}

void TextFile::EmptyIf(const QString& file, qint64 headBytes,
                       const std::function<bool(const QByteArray& head)>& shouldEmpty)
{
    // Emptied through the descriptor that was checked, never by opening the path again.
    QString failure;
    const int fd = MonthFile::Open(held_, SystemPath(file), O_RDWR, failure);
    if (fd < 0)
        return;
    MonthFile::EmptyIfOfAnotherDay(fd, headBytes, shouldEmpty);
    ::close(fd);
}

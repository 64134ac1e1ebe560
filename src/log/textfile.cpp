#include "log/textfile.h"

#include "convert/codepage.h"

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
    if (file != lastFile || lastPath.isEmpty()) {
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

// The file's type and size. Asked for through statx with just these two: fstat also asks for the
// times, and on kernels with fine-grained timestamps that makes the next write dearer than the
// write itself (about 1 us a line). A file whose type cannot be read counts as not regular.
bool IsRegularFile(int fd, qint64& size)
{
    struct statx status = {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_TYPE | STATX_SIZE, &status) == 0) {
        size = qint64(status.stx_size);
        return S_ISREG(status.stx_mode);
    }
    struct stat fallback = {}; // a kernel or sandbox without statx
    if (errno != ENOSYS || ::fstat(fd, &fallback) != 0)
        return false;
    size = qint64(fallback.st_size);
    return S_ISREG(fallback.st_mode);
}

// A write that stops short (disk full, file size limit) is carried on, so the system says why.
// Leaves errno set when it fails.
bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// The line goes in whole or the file is cut back to its size before it, so no torn line stays
// to have the next one glued onto it. (Another program appending at the same moment would lose
// its line with ours; a torn line in every reader's way is the worse of the two.)
QString AppendWhole(int fd, const QByteArray& bytes)
{
    qint64 sizeBefore = 0;
    if (!IsRegularFile(fd, sizeBefore))
        return NotRegularFile();
    if (WriteAll(fd, bytes.constData(), size_t(bytes.size())))
        return QString();
    const int error = errno;
    // Nothing more can be done when even this fails; the write's reason is the one to tell.
    [[maybe_unused]] const int cut = ::ftruncate(fd, off_t(sizeBefore));
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
    const QByteArray bytes = TextToAnsiLine(line);
    // Straight to the system: one open, one write of the whole line, one close. (A file object
    // costs as much again as these three calls.)
    const QByteArray& path = SystemPath(file);
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | kNoLinkNoWait, 0666);
    if (fd < 0)
        return OpenFailure(path.constData(), errno);
    QString failure = AppendWhole(fd, bytes);
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
    if (IsRegularFile(fd, size)) {
        const qint64 got = ReadHead(fd, head);
        head.truncate(qsizetype(qMax<qint64>(got, 0)));
        if (!head.isEmpty() && shouldEmpty(head)) {
            // When this fails the old lines stay and the new ones follow them.
            [[maybe_unused]] const int emptied = ::ftruncate(fd, 0);
        }
    }
    ::close(fd);
}

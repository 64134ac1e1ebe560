#include "log/monthfile.h"

#include "log/fileends.h"
#include "log/heldfolder.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace MonthFile {

namespace {

// O_NONBLOCK: a FIFO at the path fails or is turned away at once instead of waiting for a reader.
constexpr int kNoLinkNoWait = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

qint64 ReadHead(int fd, QByteArray& head)
{
    for (;;) {
        const ssize_t got = ::pread(fd, head.data(), size_t(head.size()), 0);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

} // namespace

QString Name(const QString& ymd, const QString& extension)
{
    return ymd.right(2) + extension;
}

bool MakeFolder(const QString& folder)
{
    return QDir().mkpath(folder);
}

int Open(HeldFolder& held, const QByteArray& path, int flags, QString& failure)
{
    const int fd = held.Open(path, flags | kNoLinkNoWait, 0666);
    if (fd >= 0)
        return fd;
    const int error = errno;
    // O_NOFOLLOW turns a symbolic link at the path into a "loop"; it is named for what it is.
    struct stat status = {};
    if (error == ELOOP && ::lstat(path.constData(), &status) == 0 && S_ISLNK(status.st_mode))
        failure = NotRegularFile();
    else
        failure = SystemReason(error);
    errno = error;
    return -1;
}

bool EmptyIfOfAnotherDay(int fd, qint64 headBytes,
                         const std::function<bool(const QByteArray& head)>& ofAnotherDay)
{
    qint64 size = 0;
    if (!RegularFileSize(fd, size) || size == 0)
        return false;
    QByteArray head(qsizetype(headBytes), Qt::Uninitialized);
    head.truncate(qsizetype(qMax<qint64>(ReadHead(fd, head), 0)));
    // When emptying fails the old records stay and the new ones follow them.
    return !head.isEmpty() && ofAnotherDay(head) && ::ftruncate(fd, 0) == 0;
}

QString NotRegularFile()
{
    return QStringLiteral("Not a regular file");
}

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace MonthFile

#include "rules/regularfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Reads until the end or past `limit`; false with errno set when a read fails.
bool ReadUpTo(int fd, qint64 limit, QByteArray& bytes)
{
    constexpr qint64 kChunk = 64 * 1024;
    while (bytes.size() <= limit) {
        const qsizetype before = bytes.size();
        const qint64 wanted = qMin(kChunk, limit + 1 - before);
        bytes.resize(before + wanted);
        const ssize_t got = ::read(fd, bytes.data() + before, size_t(wanted));
        bytes.resize(before + qMax<ssize_t>(got, 0));
        if (got == 0)
            return true;
        if (got < 0 && errno != EINTR)
            return false;
    }
    return true;
}

} // namespace

// Opened without waiting, so a FIFO with no writer returns at once; its type is then asked of
// the open file, not the path, so nothing can be swapped in between.
RegularFileRead ReadRegularFile(const QString& path, qint64 limit)
{
    RegularFileRead read;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        read.reason = SystemReason(errno);
        return read;
    }
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        read.reason = SystemReason(errno);
    } else if (!S_ISREG(status.st_mode)) {
        read.outcome = RegularFileRead::Outcome::NotRegular;
    } else if (!ReadUpTo(fd, limit, read.bytes)) {
        read.reason = SystemReason(errno);
        read.bytes.clear();
    } else if (read.bytes.size() > limit) {
        read.outcome = RegularFileRead::Outcome::TooLarge;
        read.bytes.clear();
    } else {
        read.outcome = RegularFileRead::Outcome::Read;
    }
    ::close(fd);
    return read;
}

#include "log/fileends.h"

#include <QByteArray>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Another copy of the program cutting back its own short write holds the lock for a few system
// calls; a program that holds it for longer is not waited for.
constexpr int kLockTries = 50;
constexpr useconds_t kLockPauseUs = 1000;

bool LockForUndo(int fd)
{
    for (int attempt = 0; attempt < kLockTries; ++attempt) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        ::usleep(kLockPauseUs);
    }
    return false;
}

} // namespace

// Asked for through statx with just these two: fstat also asks for the times, and on kernels
// with fine-grained timestamps that makes the next write dearer than the write itself (about
// 1 us a line). A file whose type cannot be read counts as not regular.
bool RegularFileSize(int fd, qint64& size)
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

// The file is opened again for reading through the descriptor, not its path: the same file,
// whatever stands at the path now. Only ever asked of a regular file, so the appender itself
// never opens a FIFO for reading (which would let a waiting writer in).
bool EndsInLineEnd(int fd, qint64 size)
{
    if (size <= 0)
        return true;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    const int reader = ::open(self.constData(), O_RDONLY | O_CLOEXEC);
    if (reader < 0)
        return true;
    char tail[2] = {};
    const qint64 wanted = qMin<qint64>(size, 2);
    ssize_t got;
    do
        got = ::pread(reader, tail + 2 - wanted, size_t(wanted), off_t(size - wanted));
    while (got < 0 && errno == EINTR);
    ::close(reader);
    return got != wanted || (tail[0] == '\r' && tail[1] == '\n');
}

// A write of no bytes takes its turn behind a write under way, and changes nothing: not the
// file, not its modification time.
void WaitForWritesUnderWay(int fd)
{
    ssize_t result;
    do
        result = ::write(fd, "", 0);
    while (result < 0 && errno == EINTR);
}

// With O_APPEND the file position is where this program's last write ended. Copies of the program
// take turns here, so one copy's cut never comes between another's check and cut.
void UndoShortAppend(int fd, qint64 start, qint64 written)
{
    if (start < 0 || written <= 0 || !LockForUndo(fd))
        return;
    const qint64 end = qint64(::lseek(fd, 0, SEEK_CUR));
    qint64 size = -1;
    if (end == start + written && RegularFileSize(fd, size) && size == end) {
        // Nothing more can be done when even this fails; the torn line is then set apart by the
        // next line's line end.
        [[maybe_unused]] const int cut = ::ftruncate(fd, off_t(start));
    }
    ::flock(fd, LOCK_UN);
}

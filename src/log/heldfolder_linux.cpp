// The held folder on Linux: an O_PATH descriptor, which needs no read permission on the folder,
// and the coarse monotonic clock, which the vDSO reads without a system call.
#include "log/heldfolder.h"

#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Every line's open passes through these: file-local, so the compiler folds them into Open.
namespace {

using Held = HeldFolder::Held;

// Asking the path again costs a system call; this often it is nothing beside a line's own.
constexpr qint64 kRecheckNs = 10'000'000;

qint64 CoarseNowNs()
{
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void Release(Held& held)
{
    if (held.fd >= 0)
        ::close(held.fd);
    held = Held();
}

bool Hold(Held& held, QByteArrayView folderView)
{
    Release(held);
    const QByteArray folder = folderView.toByteArray();
    const int fd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        return false;
    }
    held = {folder, fd, status.st_dev, status.st_ino, CoarseNowNs()};
    return true;
}

// Whether the held folder is still the one its path leads to, asked at most every kRecheckNs.
bool StillAtItsPath(Held& held)
{
    const qint64 now = CoarseNowNs();
    if (now - held.checkedNs < kRecheckNs)
        return true;
    struct stat status = {};
    if (::stat(held.path.constData(), &status) != 0 || status.st_dev != held.device ||
        status.st_ino != held.inode)
        return false;
    held.checkedNs = now;
    return true;
}

bool HeldFor(Held& held, QByteArrayView folder)
{
    if (held.fd >= 0 && QByteArrayView(held.path) == folder && StillAtItsPath(held))
        return true;
    return Hold(held, folder);
}

} // namespace

HeldFolder::~HeldFolder()
{
    Release(held_);
}

int HeldFolder::Open(const QByteArray& path, int flags, int mode)
{
    // The path as the system reads it: up to its first NUL, if it holds one.
    const size_t length = std::strlen(path.constData());
    const auto* last = static_cast<const char*>(::memrchr(path.constData(), '/', length));
    const qsizetype slash = last ? last - path.constData() : -1;
    // A path without a folder, or naming a folder ("dir/"), is left to the system as it is.
    if (slash < 0 || size_t(slash) == length - 1)
        return ::open(path.constData(), flags, mode);
    if (HeldFor(held_, QByteArrayView(path.constData(), slash == 0 ? 1 : slash))) {
        const int fd = ::openat(held_.fd, path.constData() + slash + 1, flags, mode);
        if (fd >= 0)
            return fd;
        // The held folder may be gone while another stands at its path: the path decides, and
        // tells why not.
        Release(held_);
    }
    return ::open(path.constData(), flags, mode);
}

// The held folder on Linux: an O_PATH descriptor, which needs no read permission on the folder,
// and the coarse monotonic clock, which the vDSO reads without a system call.
#include "log/heldfolder.h"

#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Asking the path again costs a system call; this often it is nothing beside a line's own.
constexpr qint64 kRecheckNs = 10'000'000;

qint64 CoarseNowNs()
{
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

HeldFolder::~HeldFolder()
{
    Release();
}

void HeldFolder::Release()
{
    if (fd_ >= 0)
        ::close(fd_);
    path_.clear();
    fd_ = -1;
}

bool HeldFolder::Hold(QByteArrayView folderView)
{
    Release();
    const QByteArray folder = folderView.toByteArray();
    const int fd = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat status = {};
    if (::fstat(fd, &status) != 0) {
        ::close(fd);
        return false;
    }
    path_ = folder;
    fd_ = fd;
    device_ = status.st_dev;
    inode_ = status.st_ino;
    checkedNs_ = CoarseNowNs();
    return true;
}

// Whether the held folder is still the one its path leads to, asked at most every kRecheckNs.
bool HeldFolder::StillAtItsPath()
{
    const qint64 now = CoarseNowNs();
    if (now - checkedNs_ < kRecheckNs)
        return true;
    struct stat status = {};
    if (::stat(path_.constData(), &status) != 0 || status.st_dev != device_ ||
        status.st_ino != inode_)
        return false;
    checkedNs_ = now;
    return true;
}

bool HeldFolder::HeldFor(QByteArrayView folder)
{
    if (fd_ >= 0 && QByteArrayView(path_) == folder && StillAtItsPath())
        return true;
    return Hold(folder);
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
    if (HeldFor(QByteArrayView(path.constData(), slash == 0 ? 1 : slash))) {
        const int fd = ::openat(fd_, path.constData() + slash + 1, flags, mode);
        if (fd >= 0)
            return fd;
        // The held folder may be gone while another stands at its path: the path decides, and
        // tells why not.
        Release();
    }
    return ::open(path.constData(), flags, mode);
}

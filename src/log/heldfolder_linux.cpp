// The held folder on Linux: an O_PATH descriptor, which needs no read permission on the folder,
// and the coarse monotonic clock, which the vDSO reads without a system call.
#include "log/heldfolder.h"

#include "log/linecalls.h"

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

namespace {

bool SameBuffer(const QByteArray& a, const QByteArray& b)
{
    return a.constData() == b.constData() && a.size() == b.size();
}

// Where the file's name starts, or -1 for a path without a folder or naming a folder ("dir/"),
// which is left to the system as it is. The path is read as the system reads it: up to its first
// NUL, if it holds one.
qsizetype NameAt(const QByteArray& path)
{
    const size_t length = std::strlen(path.constData());
    const auto* last = static_cast<const char*>(::memrchr(path.constData(), '/', length));
    if (!last || size_t(last - path.constData()) == length - 1)
        return -1;
    return last - path.constData() + 1;
}

} // namespace

int HeldFolder::Open(const QByteArray& path, int flags, int mode)
{
    if (!SameBuffer(path, split_.path))
        split_ = {path, NameAt(path), false};
    if (split_.nameAt < 0)
        return ::open(path.constData(), flags, mode);
    const qsizetype slash = split_.nameAt - 1;
    const QByteArrayView folder(path.constData(), slash == 0 ? 1 : slash);
    // The folder of this very path was held for the last line: only whether it still stands at
    // its path is asked (now and then), not which folder the path names.
    if (split_.held && held_.fd >= 0)
        split_.held = StillAtItsPath(held_) || Hold(held_, folder);
    else
        split_.held = HeldFor(held_, folder);
    if (split_.held) {
        const int fd = LineOpenAt(held_.fd, path.constData() + split_.nameAt, flags, mode);
        if (fd >= 0)
            return fd;
        // The held folder may be gone while another stands at its path: the path decides, and
        // tells why not.
        Release(held_);
        split_.held = false;
    }
    return ::open(path.constData(), flags, mode);
}

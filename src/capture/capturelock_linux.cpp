// The lock on Linux: an open file description lock on the file's first byte, which belongs to
// this open of the file (not to the process, as a classic record lock would, nor interfering
// with the flock a short write's undo takes).
#include "capture/capturelock.h"

#include <cerrno>
#include <fcntl.h>

namespace {

bool Lock(int fd, short type, bool wait)
{
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 1;
    int result = 0;
    do
        result = ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

} // namespace

bool LockCaptureAlone(int fd)
{
    return Lock(fd, F_WRLCK, false);
}

bool LockCaptureShared(int fd)
{
    return Lock(fd, F_RDLCK, true);
}

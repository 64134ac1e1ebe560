// The log line's calls on Linux: straight to the kernel through syscall(2), which is no
// cancellation point.
#include "log/linecalls.h"

#include <sys/syscall.h>
#include <unistd.h>

int LineOpenAt(int folder, const char* name, int flags, int mode)
{
    return int(::syscall(SYS_openat, folder, name, flags, mode));
}

ssize_t LineWrite(int fd, const void* data, size_t size)
{
    return ssize_t(::syscall(SYS_write, fd, data, size));
}

int LineClose(int fd)
{
    return int(::syscall(SYS_close, fd));
}

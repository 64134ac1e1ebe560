#pragma once

#include <cstddef>
#include <sys/types.h>

// The three calls every log line makes, as ::openat, ::write and ::close make them (errno
// included), without the C library's thread-cancellation bookkeeping around each: no thread of
// this program is ever cancelled, and in a program with threads (a window has some) that
// bookkeeping costs two atomic operations a call.
int LineOpenAt(int folder, const char* name, int flags, int mode);
ssize_t LineWrite(int fd, const void* data, size_t size);
int LineClose(int fd);

#pragma once

#include <QtGlobal>

// The ends of an open file, as the line appender needs them.

// The file's type and size; false for anything but a regular file (or when they cannot be read).
bool RegularFileSize(int fd, qint64& size);

// Whether the regular file of `size` bytes open (for writing) at `fd` ends in CR LF. A file this
// user may not read back counts as ending in one, so nothing is put in front of the next line.
bool EndsInLineEnd(int fd, qint64 size);

// Returns once every write into the file at `fd` that had begun by the call has ended. The
// system lets one write at a time into a file and copies a long one page by page, and it may
// pause between two pages for as long as it likes (to let dirty pages drain, say): meanwhile a
// reader sees the line that write holds cut short.
void WaitForWritesUnderWay(int fd);

// Cuts the `written` bytes that a failed append left from offset `start` off again, but only
// while they are still the file's last bytes, in one piece: never into a line that another
// program added meanwhile, and never lengthening a file that another program shortened.
void UndoShortAppend(int fd, qint64 start, qint64 written);

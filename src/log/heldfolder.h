#pragma once

#include <QByteArray>

// Opens a file the way ::open(path, flags, mode) does, errno included, but walks only the file's
// own name: the folder is reached through a descriptor held from one call to the next, since
// the log opens a file in the same folder for every line. When the folder has been removed, or
// its path no longer leads to it (moved, replaced, a link or mount changed), the path is walked
// afresh: at once when the open through the descriptor fails, and otherwise within 10 ms, until
// when lines still reach the folder under its new name.
int OpenThroughHeldFolder(const QByteArray& path, int flags, int mode);

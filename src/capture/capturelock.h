#pragma once

// Which copies of the program have a capture file open, told by a lock each copy holds on it
// for as long as it has the file open.

// Takes the file for this copy alone, without waiting; false when another copy has it open.
bool LockCaptureAlone(int fd);

// Shares the file with the other copies (after LockCaptureAlone, lets them in), waiting while
// a copy has it alone; false when the lock cannot be had at all.
bool LockCaptureShared(int fd);

// What both bare programs share: their CPU time, and the line each logs the way the program does,
// with an open, append and close of the day file per line.
#pragma once

#include <cstddef>
#include <string>

double CpuSeconds();

// Appends both stamps, `tag`, the bytes in hexadecimal, "]" and a line end to `file`, `line`
// being the buffer to build it in. With `askEnd` it also keeps the program's guarantee that no
// line is glued onto a torn one: it asks where the file ends before each write, and only a file
// that does not end where its own last line did has its type and its last two bytes read.
void AppendFloorLine(const char* file, bool askEnd, const char* tag, const unsigned char* data,
                     size_t size, std::string& line);

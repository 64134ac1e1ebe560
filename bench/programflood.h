#pragma once

#include <QtGlobal>

// The program itself, in a process of its own, under a UDP flood from the bench's sender:
// headless, its receiver opened by its environment, as an unattended logger runs. Its CPU comes
// from the system's count for its process and its record from its day file, so nothing the
// bench does to watch it is charged to it.
struct ProgramFloodResult {
    qint64 sent = 0;
    qint64 logged = 0; // RCV lines in the day file
    qint64 lost = 0;   // the sum of its LOST lines
    double cpuUsPerDatagram = 0;
};

ProgramFloodResult FloodProgram(int count, int rate, int size);

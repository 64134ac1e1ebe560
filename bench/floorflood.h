#pragma once

#include <QtGlobal>

// The floor (barereceiver.cpp) in a process of its own under a UDP flood from the bench's
// sender; with `asksEnd`, the floor that also asks where the day file ends before each line.
struct FloorResult {
    qint64 sent = 0;
    qint64 received = 0;
    double cpuUsPerDatagram = 0;
    double arrivingSeconds = 0; // from the first datagram received to the last
};

FloorResult FloodFloor(int count, int rate, int size, bool asksEnd = false);

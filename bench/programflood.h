#pragma once

#include <QString>
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

class QProcess;

// Starts the program headless in UDP mode, its receiver on `port`, logging in `logFolder` and
// answering by `rules` when given; true once it holds the port. A program that never opens its
// receiver is killed, so it gives no figure rather than a CPU figure of 0.
bool StartHeadlessReceiver(QProcess& program, quint16 port, const QString& logFolder,
                           const QString& rules = QString());

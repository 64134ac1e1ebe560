#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include "log/log1month.h"
#include <QTimer>
#include <functional>
#include <vector>

// One figure on its own line: "name: value unit".
void PrintFigure(const QString& name, double value, const QString& unit, int decimals = 2);

double Median(std::vector<double> values);

// VmRSS of this process in MB.
double ResidentMb();

// A UDP port the system had free a moment ago.
quint16 FreeUdpPort();

// A figure that is not one number: "name: text".
void PrintText(const QString& name, const QString& text);

// User and system CPU of the process so far, in seconds, from the system's count for it.
double ProcessCpuSeconds(qint64 pid);

// Returns once the day file has stopped growing for two seconds (the last LOST line may follow
// its losses by a second).
void WaitUntilStill(const QString& dayFile);

// RCV[ lines and the sum of LOST[n] in a day file.
void CountRecord(const QString& dayFile, qint64& logged, qint64& lost);

// Runs the event loop until `done` holds or the time is up; true when it holds.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs);

// A throw-away program folder and a day log in it, so the window's day file lands there.
class ScratchProgramFolder {
public:
    ScratchProgramFolder();
    ~ScratchProgramFolder();
    QString path() const { return dir_.path(); }
    // Today's day file in this folder.
    QString dayFile() const;

private:
    QTemporaryDir dir_;

public:
    DayLog log{dir_.path()};
};

// A 10 ms timer on this thread that keeps the longest gap between two of its ticks: how long
// the event loop was kept from running anything else.
class TickGapProbe : public QObject {
public:
    TickGapProbe();
    void start();
    void stop() { timer_.stop(); }
    double longestGapMs() const { return longestNs_ / 1e6; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
    qint64 longestNs_ = 0;
};

#pragma once

#include <functional>

class QObject;

// From this call on, an interrupt or termination signal no longer ends the process outright; it
// waits until a window takes it over. Call it first thing, so a signal sent while the program
// starts is not lost.
void HoldStopSignals();

// An interrupt or termination signal (Ctrl+C, kill) runs `stop` once, from the event loop, so the
// program ends the ordinary way: an unattended receiver still closes its socket and writes its
// "End " line. Signals held since HoldStopSignals are delivered once the event loop runs.
void OnStopSignal(QObject* context, std::function<void()> stop);

// A write past the file size limit (ulimit -f) fails, and the log tells so, instead of ending
// the process.
void IgnoreFileSizeSignal();

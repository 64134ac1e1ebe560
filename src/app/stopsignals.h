#pragma once

class QWidget;

// From this call on, an interrupt or termination signal no longer ends the process outright; it
// waits until a window takes it over. Call it first thing, so a signal sent while the program
// starts is not lost.
void HoldStopSignals();

// An interrupt or termination signal (Ctrl+C, kill) closes the window the ordinary way, so an
// unattended receiver still closes its socket and writes its "End " line. Signals held since
// HoldStopSignals are delivered once the event loop runs.
void CloseOnStopSignals(QWidget* window);

// A write past the file size limit (ulimit -f) fails, and the log tells so, instead of ending
// the process.
void IgnoreFileSizeSignal();

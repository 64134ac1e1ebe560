#pragma once

class QWidget;

// An interrupt or termination signal (Ctrl+C, kill) closes the window the ordinary way, so an
// unattended receiver still closes its socket and writes its "End " line.
void CloseOnStopSignals(QWidget* window);

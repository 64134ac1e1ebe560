#pragma once

class frmUDP;

// Whether nobody can see the window: Qt draws it on a headless platform (offscreen, minimal).
bool NoOneSeesTheWindow();

// For a window nobody sees, whose receiver logs unattended: every error line of either list
// ("Err:", "Error Event Occured.", "Log Err:") is also printed on standard error after
// "peertest: ", those already shown included; and once the receiver has closed for good on an
// error (or could not open at all), the window is closed the ordinary way, writing the "End "
// line, and the process exits with status 1, so a service manager can tell and start it again.
void FailLoudlyWhenUnattended(frmUDP& window);

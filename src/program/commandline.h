#pragma once

#include <QString>
#include <QStringList>

// The command-line text the window works with: the arguments after the program name, joined by
// single spaces ("" when there are none).
QString CommandLineText(const QStringList& arguments);

// "UDP" in any letter case selects UDP mode; anything else TCP.
bool UdpModeOf(const QString& commandLine);

// The window's caption in the mode, which also titles the log.
QString ModeTitle(bool udpMode);

// Whether a start-up text names a port for the receiver: not empty, and the number it begins
// with is above 0 (so "udp", "0" and "" name none).
bool NamesReceiverPort(const QString& text);

// PEERTEST_RECEIVER_PORT, the port the receiver opens on at start when the command line names
// none. A value that names no port is reported on standard error and opens nothing.
QString ReceiverPortSetting();

// What a run shows instead of opening the window when its whole command line (after the program
// name) is "--help" or "-h" (the usage) or "--version"; empty for any other command line.
QString HelpOrVersionText(const QStringList& arguments);

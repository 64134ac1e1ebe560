#pragma once

#include <QtGlobal>

// Whether the process has a UDP socket bound to `port`: the system's socket tables name the
// socket's inode, the process's descriptors link to it. Asked instead of binding the port, which
// could take it from under a program as it starts. (The bench uses it too.)
bool HoldsUdpPort(qint64 pid, quint16 port);

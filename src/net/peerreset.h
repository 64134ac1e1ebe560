#pragma once

#include <QtGlobal>

// The toolkit reports a peer's reset exactly like its orderly close. A second descriptor of the
// connected socket keeps the connection's state readable after the toolkit has let go of its own.

// Watches the socket `descriptor`; -1 when it cannot be watched.
int WatchForReset(qintptr descriptor);

// Whether the watched connection ended in a reset; closes the watch (the connection itself goes
// once nothing else holds it) and sets it to -1. False for -1.
bool EndResetWatch(int& watch);

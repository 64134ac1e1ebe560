#pragma once

#include <QtGlobal>

// From this call on, the listening socket drops every new connection attempt (a bare SYN), while
// handshakes it has already answered still complete into its backlog. The peers of dropped
// attempts try again and are refused once the listener is closed. Where the system does not
// allow it, nothing changes.
void StopNewHandshakes(qintptr listenerDescriptor);

#pragma once

#include <QtGlobal>

// A port number as typed or passed on, rounded half to even; throws an overflow RaisedError when
// it does not fit in 32 bits. Range checks beyond that belong to the socket.
qint32 PortNumberOf(double value);

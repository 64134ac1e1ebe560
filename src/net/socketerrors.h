#pragma once

#include "net/raisederror.h"

#include <QAbstractSocket>

// The number and description a failure reported by a Qt socket is known by.
RaisedError SocketFailureOf(QAbstractSocket::SocketError error);

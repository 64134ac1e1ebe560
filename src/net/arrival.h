#pragma once

#include "net/socketaddress.h"

#include <QByteArray>

class Winsock;

// Bytes as they came in on a socket, with who sent them: a TCP peer's arrival (as delivered,
// not framed) or one UDP datagram.
struct Arrival {
    QByteArray bytes;
    PeerAddress peer;
    Winsock* socket = nullptr;
};

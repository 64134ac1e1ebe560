#pragma once

#include "replay/conversations.h"

#include <QByteArray>

#include <vector>

// One turn of a conversation: what the client sent, then what the server sent before the client
// sent again.
struct Exchange {
    bool sends = true; // false: the server's words before the client's first (a greeting)
    QByteArray payload;
    // How long the client waited before sending, after the last packet before it.
    qint64 gapNs = 0;
    // TCP: at most one, all the bytes up to the next payload. UDP: each datagram.
    std::vector<QByteArray> answers;
};

// The turns in order. A UDP server's datagrams before the client's first are left out: nothing
// asks for them.
std::vector<Exchange> ExchangesOf(const Conversation& conversation);

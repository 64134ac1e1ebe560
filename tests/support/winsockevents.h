#pragma once

#include "net/winsock.h"

#include <QByteArray>
#include <QList>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QUdpSocket>

// Upper bound for anything to happen on loopback.
constexpr int kLoopbackWaitMs = 5000;

// One spy for each event of a control.
struct WinsockEvents {
    explicit WinsockEvents(Winsock& socket);
    int Total() const;

    QSignalSpy connected;
    QSignalSpy arrivals;
    QSignalSpy requests;
    QSignalSpy sendsCompleted;
    QSignalSpy closed;
    QSignalSpy errors;
};

// False where this machine has no IPv6 loopback.
bool HasIPv6Loopback();

// Gathers what a peer receives, as it arrives.
void CollectBytes(QTcpSocket& peer, QByteArray& into);
void CollectDatagrams(QUdpSocket& peer, QList<QByteArray>& into);

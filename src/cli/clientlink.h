#pragma once

#include "cli/conventions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QString>

#include <memory>

// What one wait for the peer gave.
struct Reading {
    enum class Kind { Bytes, TimedOut, Closed, Refused, Failed };
    Kind kind = Kind::TimedOut;
    QByteArray bytes; // Bytes: what one read took (TCP) or one datagram (UDP)
    QString why;      // Refused and Failed: the system's words
};

// A client's socket towards one target, on the system's descriptor: a command that waits for
// one answer at a time has no use for an event loop, and a blocking wait is what it is.
class ClientLink {
public:
    // Resolves the host, then connects (TCP: each address in turn until one accepts) or aims
    // the socket (UDP: the first address). Null, with why, when the target cannot be reached.
    static std::unique_ptr<ClientLink> Open(const Target& target, QDeadlineTimer deadline,
                                            QString& why);
    ~ClientLink();
    ClientLink(const ClientLink&) = delete;
    ClientLink& operator=(const ClientLink&) = delete;

    // Every byte (TCP) or one datagram (UDP): Kind::Bytes (with no bytes) when the system took
    // them; otherwise Refused (a UDP peer's port was found closed), Failed or TimedOut.
    Reading Send(const QByteArray& bytes, QDeadlineTimer deadline);
    // Waits until bytes come or the deadline passes; `beforeWaiting` runs once if the peer is
    // slow to answer.
    Reading Receive(QDeadlineTimer deadline, const std::function<void()>& beforeWaiting);
    // TCP: an orderly close.
    void Close();

    bool Udp() const { return udp_; }
    QHostAddress LocalAddress() const { return local_; }
    quint16 LocalPort() const { return localPort_; }
    QHostAddress PeerAddress() const { return peer_; }
    quint16 PeerPort() const { return peerPort_; }

private:
    ClientLink(int fd, bool udp);
    void NoteEnds();

    int fd_ = -1;
    bool udp_ = false;
    QHostAddress local_;
    quint16 localPort_ = 0;
    QHostAddress peer_;
    quint16 peerPort_ = 0;
    QByteArray buffer_; // what one read can hold
};

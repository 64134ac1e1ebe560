#pragma once

#include <QHostAddress>
#include <sys/socket.h>

// Socket addresses between Qt's form and the system's, in one place.

// An IPv4 address met as IPv4-mapped IPv6 (as a dual-stack socket names IPv4 peers), as IPv4.
QHostAddress PlainAddress(const QHostAddress& address);

// Whether the address is IPv4, mapped or not.
bool IsIPv4(const QHostAddress& address);

// The address and port in the system's form for a socket of `family` (AF_INET or AF_INET6; an
// IPv4 address goes to an IPv6 socket mapped); returns the length to pass with it.
socklen_t ToSockaddr(const QHostAddress& address, quint16 port, int family, sockaddr_storage* out);

// The address and port a system address names; the address in its plain form.
QHostAddress AddressOf(const sockaddr_storage& address);
quint16 PortOf(const sockaddr_storage& address);

// A peer's address and port in a few plain bytes: every datagram of a flood carries one, and a
// QHostAddress (which allocates) is made only for whoever asks.
class PeerAddress {
public:
    PeerAddress() = default;
    static PeerAddress Of(const QHostAddress& address, quint16 port);
    static PeerAddress Of(const sockaddr_storage& address);

    // In its plain form: an IPv4 peer of a dual-stack socket as IPv4.
    QHostAddress Address() const;
    // In the system's form for a socket of `family`, as ToSockaddr gives it.
    socklen_t Native(int family, sockaddr_storage* out) const;
    quint16 Port() const { return port_; }
    bool IsNull() const { return family_ == 0; }

private:
    quint8 bytes_[16] = {};
    quint32 scope_ = 0;
    quint16 port_ = 0;
    quint8 family_ = 0; // 4, 6, or 0 for none
};

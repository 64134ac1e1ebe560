#include "net/socketaddress.h"

#include <QtEndian>
#include <cstring>
#include <netinet/in.h>

QHostAddress PlainAddress(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

bool IsIPv4(const QHostAddress& address)
{
    bool isV4 = false;
    address.toIPv4Address(&isV4);
    return isV4;
}

socklen_t ToSockaddr(const QHostAddress& address, quint16 port, int family, sockaddr_storage* out)
{
    return PeerAddress::Of(address, port).Native(family, out);
}

PeerAddress PeerAddress::Of(const QHostAddress& address, quint16 port)
{
    PeerAddress peer;
    peer.port_ = port;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
        qToBigEndian(v4, peer.bytes_);
        peer.family_ = 4;
        return peer;
    }
    const Q_IPV6ADDR bytes = address.toIPv6Address(); // all zeros for no address: "::"
    std::memcpy(peer.bytes_, &bytes, sizeof bytes);
    peer.family_ = 6;
    peer.scope_ = address.scopeId().toUInt();
    return peer;
}

socklen_t PeerAddress::Native(int family, sockaddr_storage* out) const
{
    std::memset(out, 0, sizeof *out);
    if (family == AF_INET) {
        auto* in = reinterpret_cast<sockaddr_in*>(out);
        in->sin_family = AF_INET;
        in->sin_port = htons(port_);
        if (family_ == 4)
            std::memcpy(&in->sin_addr, bytes_, 4);
        return sizeof *in;
    }
    auto* in6 = reinterpret_cast<sockaddr_in6*>(out);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = htons(port_);
    if (family_ == 4) {
        in6->sin6_addr.s6_addr[10] = 0xFF;
        in6->sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(&in6->sin6_addr.s6_addr[12], bytes_, 4);
    } else if (family_ == 6) {
        std::memcpy(&in6->sin6_addr, bytes_, 16);
        in6->sin6_scope_id = scope_;
    }
    return sizeof *in6;
}

PeerAddress PeerAddress::Of(const sockaddr_storage& address)
{
    PeerAddress peer;
    if (address.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(address);
        const quint8* bytes = in6.sin6_addr.s6_addr;
        // A dual-stack socket's IPv4 peer, ::ffff:a.b.c.d, is kept as the IPv4 address it is.
        static constexpr quint8 kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
        const bool mapped = std::memcmp(bytes, kMapped, sizeof kMapped) == 0;
        std::memcpy(peer.bytes_, mapped ? bytes + 12 : bytes, mapped ? 4 : 16);
        peer.family_ = mapped ? 4 : 6;
        peer.scope_ = in6.sin6_scope_id;
        peer.port_ = ntohs(in6.sin6_port);
    } else if (address.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(address);
        std::memcpy(peer.bytes_, &in.sin_addr, 4);
        peer.family_ = 4;
        peer.port_ = ntohs(in.sin_port);
    }
    return peer;
}

QHostAddress PeerAddress::Address() const
{
    if (family_ == 4)
        return QHostAddress(qFromBigEndian<quint32>(bytes_));
    if (family_ != 6)
        return QHostAddress();
    QHostAddress address(bytes_);
    if (scope_ != 0)
        address.setScopeId(QString::number(scope_));
    return address;
}

QHostAddress AddressOf(const sockaddr_storage& address)
{
    return PlainAddress(QHostAddress(reinterpret_cast<const sockaddr*>(&address)));
}

quint16 PortOf(const sockaddr_storage& address)
{
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

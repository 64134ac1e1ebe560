#include "net/capturesink.h"

#include "net/udpsocket.h"

#include <QTcpSocket>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A dual-stack socket names IPv4 peers in the mapped form; the capture names them as IPv4.
QHostAddress Plain(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

// The UDP socket is bound to every address, so the one a datagram to or from a peer uses is the
// one the system sends from towards that peer: asked by aiming a socket at it, which sends
// nothing.
QHostAddress LocalAddressTowards(const QHostAddress& remote, quint16 port)
{
    static QHostAddress lastRemote;
    static QHostAddress lastLocal;
    if (remote == lastRemote)
        return lastLocal;
    const bool v4 = remote.protocol() == QAbstractSocket::IPv4Protocol;
    sockaddr_storage address{};
    socklen_t size = 0;
    if (v4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&address);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(remote.toIPv4Address());
        size = sizeof *in;
    } else {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = remote.toIPv6Address();
        std::copy(bytes.c, bytes.c + 16, in6->sin6_addr.s6_addr);
        in6->sin6_scope_id = remote.scopeId().toUInt();
        size = sizeof *in6;
    }
    QHostAddress local(v4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6);
    const int probe = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        sockaddr_storage own{};
        socklen_t ownSize = sizeof own;
        if (::connect(probe, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::getsockname(probe, reinterpret_cast<sockaddr*>(&own), &ownSize) == 0)
            local = QHostAddress(reinterpret_cast<sockaddr*>(&own));
        ::close(probe);
    }
    lastRemote = remote;
    lastLocal = local;
    return local;
}

} // namespace

void CaptureTcpOpened(CaptureSink* sink, const QTcpSocket* socket, bool outgoing)
{
    if (!sink)
        return;
    sink->TcpOpened(Plain(socket->localAddress()), socket->localPort(),
                    Plain(socket->peerAddress()), socket->peerPort(), outgoing);
}

void CaptureDatagram(CaptureSink* sink, const UdpSocket& socket, const QHostAddress& remote,
                     quint16 remotePort, bool outgoing, const QByteArray& bytes)
{
    if (!sink)
        return;
    const QHostAddress peer = Plain(remote);
    sink->Datagram(LocalAddressTowards(peer, remotePort), socket.LocalPort(), peer, remotePort,
                   outgoing, bytes);
}

void CaptureArrival(CaptureSink* sink, const UdpSocket& socket, const QByteArray& bytes)
{
    if (sink)
        CaptureDatagram(sink, socket, socket.LastSenderAddress(), socket.LastSenderPort(), false,
                        bytes);
}

#pragma once

#include "net/socketaddress.h"

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>
#include <memory>
#include <sys/socket.h>

// A UDP socket on the system's own descriptor, bound to one port on every local address, read
// a batch of datagrams per call. Datagrams the program has not read yet wait in the system's
// receive buffer, so what the program holds itself is one batch, whatever the datagram size;
// what the system drops for want of room is counted, per socket.
class UdpSocket {
public:
    static constexpr int kBatch = 64;

    // Throws RaisedError when the port cannot be bound.
    explicit UdpSocket(quint16 port);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    int Descriptor() const;
    quint16 LocalPort() const;

    // One datagram; throws RaisedError when the system does not take it.
    void SendTo(const QByteArray& data, const PeerAddress& to);

    // Reads what is waiting now, up to one batch; returns how many datagrams were read (0 when
    // none). Throws RaisedError when the socket fails.
    int ReadBatch();
    // Copies datagram `index` of the last batch (valid until the next ReadBatch) into `out`,
    // whose buffer is reused when nothing else shares it.
    void CopyDatagramAt(int index, QByteArray& out) const;
    // Makes the sender of datagram `index` the one LastSender() names.
    void NoteSenderOf(int index);
    bool HasSender() const;
    QHostAddress LastSenderAddress() const;
    quint16 LastSenderPort() const;
    const sockaddr_storage& LastSender() const;

    // From now on the system hands this socket no more datagrams (it is aimed at itself, which
    // sends nothing), so what it holds can be read to the end while a peer goes on sending.
    // False when the system would not (no loopback to aim at): datagrams may still come in.
    bool StopTakingIn();

    // Datagrams the system dropped for this socket since it was opened (wraps at 2^32).
    quint32 Drops() const;

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

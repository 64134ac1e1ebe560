#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QtGlobal>
#include <vector>

// Whole IP packets made up around bytes that went through a socket, so a capture tool shows them
// as on the wire: IPv4 when both ends are IPv4 addresses (IPv4-mapped ones count), otherwise
// IPv6; every checksum is right.

struct PacketEnds {
    QHostAddress source;
    quint16 sourcePort = 0;
    QHostAddress destination;
    quint16 destinationPort = 0;

    PacketEnds Reversed() const { return {destination, destinationPort, source, sourcePort}; }
};

namespace TcpFlag {
constexpr quint8 Fin = 0x01;
constexpr quint8 Syn = 0x02;
constexpr quint8 Rst = 0x04;
constexpr quint8 Psh = 0x08;
constexpr quint8 Ack = 0x10;
} // namespace TcpFlag

// The largest payload put into one packet; a longer one is cut into segments this long.
constexpr qsizetype kMostPayloadPerPacket = 65000;

// `identification` goes into an IPv4 header, where a capture tool tells packets apart by it.
QByteArray UdpPacket(const PacketEnds& ends, const QByteArray& payload, quint16 identification = 0);
QByteArray TcpPacket(const PacketEnds& ends, quint32 sequence, quint32 acknowledgement,
                     quint8 flags, const QByteArray& payload = QByteArray(),
                     quint16 identification = 0);

// One TCP connection as the packets that tell it: the handshake, each side's bytes with sequence
// and acknowledgement numbers that follow on, and the close.
class TcpFlow {
public:
    // `local` to `remote` as this side sees it; `outgoing` says which side opened it.
    TcpFlow(const PacketEnds& localToRemote, bool outgoing);

    std::vector<QByteArray> Handshake();
    // Segments of at most kMostPayloadPerPacket bytes; none for no bytes.
    std::vector<QByteArray> Data(bool outgoing, const QByteArray& bytes);
    // This side's FIN and the peer's acknowledgement; nothing when this side has closed already.
    std::vector<QByteArray> CloseHere();
    // The peer's FIN and this side's acknowledgement, or the peer's reset.
    std::vector<QByteArray> CloseByPeer(bool reset);
    // After a reset, or once both sides have sent their FIN, the flow carries nothing more.
    bool Over() const { return reset_ || (localFin_ && remoteFin_); }

private:
    QByteArray Segment(bool outgoing, quint8 flags, const QByteArray& payload = QByteArray());

    PacketEnds out_; // local to remote
    bool outgoingOpen_;
    quint32 localNext_;
    quint32 remoteNext_;
    bool localFin_ = false;
    bool remoteFin_ = false;
    bool reset_ = false;
    quint16 identification_ = 0;
};

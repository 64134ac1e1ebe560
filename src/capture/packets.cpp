#include "capture/packets.h"

#include "net/socketaddress.h"

#include <QRandomGenerator>
#include <QtEndian>
#include <cstring>

namespace {

constexpr quint8 kTcp = 6;
constexpr quint8 kUdp = 17;
constexpr quint8 kTimeToLive = 64;
constexpr int kIPv4HeaderBytes = 20;
constexpr int kIPv6HeaderBytes = 40;
constexpr int kTcpHeaderBytes = 20;
constexpr int kUdpHeaderBytes = 8;
constexpr quint16 kWindow = 65535;

// An address as it goes into a header: 4 bytes, or 16 (an IPv4 address as IPv6 is the mapped
// form, as a dual-stack socket sees it).
struct WireAddress {
    uchar bytes[16] = {};
    int size = 0;
};

WireAddress WireBytes(const QHostAddress& address, bool inIPv4)
{
    WireAddress wire;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (inIPv4 || isV4) {
        wire.size = inIPv4 ? 4 : 16;
        uchar* at = wire.bytes + wire.size - 4;
        qToBigEndian(v4, at);
        if (!inIPv4)
            at[-1] = at[-2] = 0xFF;
        return wire;
    }
    const Q_IPV6ADDR raw = address.toIPv6Address();
    std::memcpy(wire.bytes, raw.c, sizeof raw.c);
    wire.size = 16;
    return wire;
}

void Put16(uchar* at, quint16 value)
{
    qToBigEndian(value, at);
}

void Put32(uchar* at, quint32 value)
{
    qToBigEndian(value, at);
}

quint32 SumOf(const uchar* data, qsizetype size, quint32 sum = 0)
{
    for (qsizetype i = 0; i + 1 < size; i += 2)
        sum += quint32(data[i]) << 8 | data[i + 1];
    if (size % 2)
        sum += quint32(data[size - 1]) << 8;
    return sum;
}

quint16 Folded(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

// The transport checksum covers the pseudo header: both addresses, the protocol, the length.
quint16 TransportChecksum(const WireAddress& source, const WireAddress& destination,
                          quint8 protocol, const uchar* segment, qsizetype size)
{
    quint32 sum = SumOf(source.bytes, source.size) + SumOf(destination.bytes, destination.size);
    sum += quint32(size) >> 16;
    sum += quint32(size) & 0xFFFF;
    sum += protocol;
    const quint16 checksum = Folded(SumOf(segment, size, sum));
    return protocol == kUdp && checksum == 0 ? 0xFFFF : checksum; // zero: "no checksum"
}

void PutIPv4Header(uchar* header, quint8 protocol, qsizetype segmentSize, const WireAddress& source,
                   const WireAddress& destination, quint16 identification)
{
    header[0] = 0x45;
    Put16(header + 2, quint16(kIPv4HeaderBytes + segmentSize));
    Put16(header + 4, identification);
    Put16(header + 6, 0x4000); // don't fragment
    header[8] = kTimeToLive;
    header[9] = protocol;
    std::memcpy(header + 12, source.bytes, 4);
    std::memcpy(header + 16, destination.bytes, 4);
    Put16(header + 10, Folded(SumOf(header, kIPv4HeaderBytes)));
}

void PutIPv6Header(uchar* header, quint8 protocol, qsizetype segmentSize, const WireAddress& source,
                   const WireAddress& destination)
{
    header[0] = 0x60;
    Put16(header + 4, quint16(segmentSize));
    header[6] = protocol;
    header[7] = kTimeToLive;
    std::memcpy(header + 8, source.bytes, 16);
    std::memcpy(header + 24, destination.bytes, 16);
}

// The IP packet around a transport header (its checksum field at `checksumAt`, still zero) and
// the payload, built in one piece: every datagram captured passes here.
QByteArray IpPacket(const PacketEnds& ends, quint8 protocol, const uchar* transport,
                    int transportSize, const QByteArray& payload, int checksumAt,
                    quint16 identification)
{
    const bool v4 = IsIPv4(ends.source) && IsIPv4(ends.destination);
    const WireAddress source = WireBytes(ends.source, v4);
    const WireAddress destination = WireBytes(ends.destination, v4);
    const int headerSize = v4 ? kIPv4HeaderBytes : kIPv6HeaderBytes;
    const qsizetype segmentSize = transportSize + payload.size();
    QByteArray packet(headerSize + segmentSize, Qt::Uninitialized);
    auto* header = reinterpret_cast<uchar*>(packet.data());
    uchar* segment = header + headerSize;
    std::memset(header, 0, size_t(headerSize));
    std::memcpy(segment, transport, size_t(transportSize));
    if (!payload.isEmpty())
        std::memcpy(segment + transportSize, payload.constData(), size_t(payload.size()));
    Put16(segment + checksumAt,
          TransportChecksum(source, destination, protocol, segment, segmentSize));
    if (v4)
        PutIPv4Header(header, protocol, segmentSize, source, destination, identification);
    else
        PutIPv6Header(header, protocol, segmentSize, source, destination);
    return packet;
}

} // namespace

QByteArray UdpPacket(const PacketEnds& ends, const QByteArray& payload, quint16 identification)
{
    uchar header[kUdpHeaderBytes] = {};
    Put16(header, ends.sourcePort);
    Put16(header + 2, ends.destinationPort);
    Put16(header + 4, quint16(kUdpHeaderBytes + payload.size()));
    return IpPacket(ends, kUdp, header, kUdpHeaderBytes, payload, 6, identification);
}

QByteArray TcpPacket(const PacketEnds& ends, quint32 sequence, quint32 acknowledgement,
                     quint8 flags, const QByteArray& payload, quint16 identification)
{
    uchar header[kTcpHeaderBytes] = {};
    Put16(header, ends.sourcePort);
    Put16(header + 2, ends.destinationPort);
    Put32(header + 4, sequence);
    Put32(header + 8, (flags & TcpFlag::Ack) ? acknowledgement : 0);
    header[12] = uchar((kTcpHeaderBytes / 4) << 4);
    header[13] = flags;
    Put16(header + 14, kWindow);
    return IpPacket(ends, kTcp, header, kTcpHeaderBytes, payload, 16, identification);
}

TcpFlow::TcpFlow(const PacketEnds& localToRemote, bool outgoing)
    : out_(localToRemote), outgoingOpen_(outgoing),
      localNext_(QRandomGenerator::global()->generate()),
      remoteNext_(QRandomGenerator::global()->generate())
{
}

QByteArray TcpFlow::Segment(bool outgoing, quint8 flags, const QByteArray& payload)
{
    quint32& next = outgoing ? localNext_ : remoteNext_;
    const quint32 acknowledged = outgoing ? remoteNext_ : localNext_;
    QByteArray packet = TcpPacket(outgoing ? out_ : out_.Reversed(), next, acknowledged, flags,
                                  payload, ++identification_);
    next += quint32(payload.size()) + ((flags & (TcpFlag::Syn | TcpFlag::Fin)) ? 1 : 0);
    return packet;
}

std::vector<QByteArray> TcpFlow::Handshake()
{
    const bool opener = outgoingOpen_;
    std::vector<QByteArray> packets;
    packets.push_back(Segment(opener, TcpFlag::Syn));
    packets.push_back(Segment(!opener, TcpFlag::Syn | TcpFlag::Ack));
    packets.push_back(Segment(opener, TcpFlag::Ack));
    return packets;
}

std::vector<QByteArray> TcpFlow::Data(bool outgoing, const QByteArray& bytes)
{
    std::vector<QByteArray> packets;
    if (Over())
        return packets;
    for (qsizetype at = 0; at < bytes.size(); at += kMostPayloadPerPacket)
        packets.push_back(
            Segment(outgoing, TcpFlag::Psh | TcpFlag::Ack, bytes.mid(at, kMostPayloadPerPacket)));
    return packets;
}

std::vector<QByteArray> TcpFlow::CloseHere()
{
    std::vector<QByteArray> packets;
    if (localFin_ || reset_)
        return packets;
    localFin_ = true;
    packets.push_back(Segment(true, TcpFlag::Fin | TcpFlag::Ack));
    packets.push_back(Segment(false, TcpFlag::Ack));
    return packets;
}

std::vector<QByteArray> TcpFlow::CloseByPeer(bool reset)
{
    std::vector<QByteArray> packets;
    if (remoteFin_ || reset_)
        return packets;
    if (reset) {
        reset_ = true;
        packets.push_back(Segment(false, TcpFlag::Rst | TcpFlag::Ack));
        return packets;
    }
    remoteFin_ = true;
    packets.push_back(Segment(false, TcpFlag::Fin | TcpFlag::Ack));
    packets.push_back(Segment(true, TcpFlag::Ack));
    return packets;
}

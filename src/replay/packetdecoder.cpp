#include "replay/packetdecoder.h"

#include <pcap/pcap.h>

#include <algorithm>

namespace {

constexpr quint16 kEtherIPv4 = 0x0800;
constexpr quint16 kEtherIPv6 = 0x86DD;
constexpr quint8 kProtocolTcp = 6;
constexpr quint8 kProtocolUdp = 17;

quint16 Read16(QByteArrayView bytes, qsizetype at)
{
    return quint16(quint8(bytes[at]) << 8 | quint8(bytes[at + 1]));
}

quint32 Read32(QByteArrayView bytes, qsizetype at)
{
    return quint32(Read16(bytes, at)) << 16 | Read16(bytes, at + 2);
}

// What the network layer hands on: the transport protocol, the addresses, and the transport
// header and payload, `carried` bytes long on the wire of which `captured` holds a start.
struct NetworkPart {
    quint8 protocol = 0;
    Endpoint source;
    Endpoint destination;
    QByteArrayView captured;
    qsizetype carried = 0;
    bool fragmented = false;
};

void MapIPv4(QByteArrayView four, Endpoint& end)
{
    end.address.fill(0);
    end.address[10] = end.address[11] = 0xFF;
    std::copy(four.begin(), four.end(), end.address.begin() + 12);
}

Decoding ReadIPv4(QByteArrayView ip, NetworkPart& part)
{
    if (ip.size() < 20)
        return Decoding::Damaged;
    const qsizetype headerLength = (quint8(ip[0]) & 0x0F) * 4;
    qsizetype totalLength = Read16(ip, 2);
    if (totalLength == 0) // a segment the system sent in one piece past 64 KB (TSO)
        totalLength = ip.size();
    if (headerLength < 20 || totalLength < headerLength || ip.size() < headerLength)
        return Decoding::Damaged;
    const quint16 fragment = Read16(ip, 6);
    if ((fragment & 0x1FFF) != 0)
        return Decoding::LaterFragment;
    part.fragmented = (fragment & 0x2000) != 0;
    part.protocol = quint8(ip[9]);
    MapIPv4(ip.sliced(12, 4), part.source);
    MapIPv4(ip.sliced(16, 4), part.destination);
    part.carried = totalLength - headerLength;
    part.captured = ip.sliced(headerLength, std::min(ip.size(), totalLength) - headerLength);
    return Decoding::Decoded;
}

// Walks the extension headers to the transport header; false when the chain is cut off.
bool SkipIPv6Extensions(QByteArrayView& rest, qsizetype& carried, NetworkPart& part)
{
    for (;;) {
        const quint8 next = part.protocol;
        if (next != 0 && next != 43 && next != 44 && next != 51 && next != 60)
            return true;
        if (rest.size() < 8)
            return false;
        const qsizetype length = next == 44   ? 8
                                 : next == 51 ? (quint8(rest[1]) + 2) * 4
                                              : (quint8(rest[1]) + 1) * 8;
        if (rest.size() < length || carried < length)
            return false;
        if (next == 44) {
            if ((Read16(rest, 2) & 0xFFF8) != 0) {
                part.protocol = 44; // a later piece
                return true;
            }
            part.fragmented = part.fragmented || (Read16(rest, 2) & 1) != 0;
        }
        part.protocol = quint8(rest[0]);
        rest = rest.sliced(length);
        carried -= length;
    }
}

Decoding ReadIPv6(QByteArrayView ip, NetworkPart& part)
{
    if (ip.size() < 40)
        return Decoding::Damaged;
    qsizetype carried = Read16(ip, 4);
    if (carried == 0) // a jumbogram, or a segment past 64 KB sent in one piece
        carried = ip.size() - 40;
    part.protocol = quint8(ip[6]);
    std::copy(ip.begin() + 8, ip.begin() + 24, part.source.address.begin());
    std::copy(ip.begin() + 24, ip.begin() + 40, part.destination.address.begin());
    QByteArrayView rest = ip.sliced(40, std::min(ip.size() - 40, carried));
    if (!SkipIPv6Extensions(rest, carried, part))
        return Decoding::Damaged;
    if (part.protocol == 44)
        return Decoding::LaterFragment;
    part.carried = carried;
    part.captured = rest;
    return Decoding::Decoded;
}

Decoding ReadIP(QByteArrayView ip, NetworkPart& part)
{
    if (ip.isEmpty())
        return Decoding::Damaged;
    switch (quint8(ip[0]) >> 4) {
    case 4:
        return ReadIPv4(ip, part);
    case 6:
        return ReadIPv6(ip, part);
    default:
        return Decoding::NotTcpOrUdp;
    }
}

Decoding ReadByEtherType(quint16 type, QByteArrayView rest, NetworkPart& part)
{
    return type == kEtherIPv4 || type == kEtherIPv6 ? ReadIP(rest, part) : Decoding::NotTcpOrUdp;
}

Decoding ReadEthernet(QByteArrayView frame, NetworkPart& part)
{
    qsizetype at = 12;
    for (;;) {
        if (frame.size() < at + 2)
            return Decoding::Damaged;
        const quint16 type = Read16(frame, at);
        if (type != 0x8100 && type != 0x88A8 && type != 0x9100) // VLAN tags
            return ReadByEtherType(type, frame.sliced(at + 2), part);
        at += 4;
    }
}

Decoding ReadNetwork(int linkType, QByteArrayView frame, NetworkPart& part)
{
    switch (linkType) {
    case DLT_RAW:
    case DLT_IPV4:
    case DLT_IPV6:
        return ReadIP(frame, part);
    case DLT_NULL:
    case DLT_LOOP: // a 4-byte address family, in either byte order: the IP version tells
        return frame.size() < 4 ? Decoding::Damaged : ReadIP(frame.sliced(4), part);
    case DLT_EN10MB:
        return ReadEthernet(frame, part);
    case DLT_LINUX_SLL:
        return frame.size() < 16 ? Decoding::Damaged
                                 : ReadByEtherType(Read16(frame, 14), frame.sliced(16), part);
    case DLT_LINUX_SLL2:
        return frame.size() < 20 ? Decoding::Damaged
                                 : ReadByEtherType(Read16(frame, 0), frame.sliced(20), part);
    default:
        return Decoding::NotTcpOrUdp;
    }
}

Decoding ReadTcp(const NetworkPart& part, DecodedPacket& packet)
{
    const QByteArrayView header = part.captured;
    if (header.size() < 20)
        return Decoding::Damaged;
    const qsizetype headerLength = (quint8(header[12]) >> 4) * 4;
    if (headerLength < 20 || headerLength > part.carried || headerLength > header.size())
        return Decoding::Damaged;
    packet.tcp = true;
    packet.source.port = Read16(header, 0);
    packet.destination.port = Read16(header, 2);
    packet.sequence = Read32(header, 4);
    packet.flags = quint8(header[13]);
    packet.payload = header.sliced(headerLength);
    packet.payloadCut = header.size() < part.carried;
    return Decoding::Decoded;
}

Decoding ReadUdp(const NetworkPart& part, DecodedPacket& packet)
{
    const QByteArrayView header = part.captured;
    if (header.size() < 8)
        return Decoding::Damaged;
    const qsizetype length = Read16(header, 4);
    // A fragmented datagram's length counts pieces this packet does not hold.
    if (length < 8 || (length > part.carried && !part.fragmented))
        return Decoding::Damaged;
    packet.tcp = false;
    packet.source.port = Read16(header, 0);
    packet.destination.port = Read16(header, 2);
    packet.payload = header.sliced(8, std::min(length, header.size()) - 8);
    packet.payloadCut = header.size() < length;
    return Decoding::Decoded;
}

} // namespace

QHostAddress Endpoint::Address() const
{
    QHostAddress full(address.data());
    bool mapped = false;
    const quint32 ipv4 = full.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : full;
}

QString Endpoint::Text() const
{
    const QHostAddress host = Address();
    const QString shown = host.protocol() == QAbstractSocket::IPv6Protocol
                              ? u'[' + host.toString() + u']'
                              : host.toString();
    return shown + u':' + QString::number(port);
}

bool LinkTypeIsRead(int linkType)
{
    for (int known : {DLT_RAW, DLT_IPV4, DLT_IPV6, DLT_NULL, DLT_LOOP, DLT_EN10MB, DLT_LINUX_SLL,
                      DLT_LINUX_SLL2}) {
        if (linkType == known)
            return true;
    }
    return false;
}

Decoding DecodePacket(int linkType, QByteArrayView captured, DecodedPacket& packet)
{
    NetworkPart part;
    const Decoding network = ReadNetwork(linkType, captured, part);
    if (network != Decoding::Decoded)
        return network;
    if (part.protocol != kProtocolTcp && part.protocol != kProtocolUdp)
        return Decoding::NotTcpOrUdp;
    packet = DecodedPacket();
    packet.source = part.source;
    packet.destination = part.destination;
    packet.fragmented = part.fragmented;
    return part.protocol == kProtocolTcp ? ReadTcp(part, packet) : ReadUdp(part, packet);
}

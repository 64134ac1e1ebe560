#include "log/packets.h"

#include <QRandomGenerator>
#include <QtEndian>

namespace {

constexpr quint8 kTcp = 6;
constexpr quint8 kUdp = 17;
constexpr quint8 kTimeToLive = 64;
constexpr int kIPv4HeaderBytes = 20;
constexpr int kIPv6HeaderBytes = 40;
constexpr int kTcpHeaderBytes = 20;
constexpr int kUdpHeaderBytes = 8;
constexpr quint16 kWindow = 65535;

bool IsIPv4(const QHostAddress& address)
{
    bool isV4 = false;
    address.toIPv4Address(&isV4);
    return isV4;
}

QByteArray IPv4Bytes(const QHostAddress& address)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(address.toIPv4Address(), bytes.data());
    return bytes;
}

// An IPv4 address as IPv6 is the mapped form, as a dual-stack socket sees it.
QByteArray IPv6Bytes(const QHostAddress& address)
{
    if (IsIPv4(address))
        return QByteArray(10, '\0') + QByteArray(2, char(0xFF)) + IPv4Bytes(address);
    const Q_IPV6ADDR raw = address.toIPv6Address();
    return QByteArray(reinterpret_cast<const char*>(raw.c), 16);
}

void Put16(QByteArray& bytes, int at, quint16 value)
{
    qToBigEndian(value, bytes.data() + at);
}

void Put32(QByteArray& bytes, int at, quint32 value)
{
    qToBigEndian(value, bytes.data() + at);
}

quint32 SumOf(const QByteArray& bytes, quint32 sum = 0)
{
    const auto* data = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
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

// Wraps a transport segment (checksum field at `checksumAt`, still zero) into an IP packet.
QByteArray IpPacket(const PacketEnds& ends, quint8 protocol, QByteArray segment, int checksumAt)
{
    const bool v4 = IsIPv4(ends.source) && IsIPv4(ends.destination);
    const QByteArray source = v4 ? IPv4Bytes(ends.source) : IPv6Bytes(ends.source);
    const QByteArray destination = v4 ? IPv4Bytes(ends.destination) : IPv6Bytes(ends.destination);
    QByteArray pseudo = source + destination + QByteArray(8, '\0');
    Put32(pseudo, int(pseudo.size()) - 8, quint32(segment.size()));
    pseudo[pseudo.size() - 1] = char(protocol);
    quint16 checksum = Folded(SumOf(segment, SumOf(pseudo)));
    if (protocol == kUdp && checksum == 0)
        checksum = 0xFFFF; // zero would mean "no checksum"
    Put16(segment, checksumAt, checksum);

    QByteArray header(v4 ? kIPv4HeaderBytes : kIPv6HeaderBytes, '\0');
    if (v4) {
        static quint16 identification = 0;
        header[0] = char(0x45);
        Put16(header, 2, quint16(kIPv4HeaderBytes + segment.size()));
        Put16(header, 4, ++identification);
        Put16(header, 6, 0x4000); // don't fragment
        header[8] = char(kTimeToLive);
        header[9] = char(protocol);
        header.replace(12, 4, source);
        header.replace(16, 4, destination);
        Put16(header, 10, Folded(SumOf(header)));
    } else {
        header[0] = char(0x60);
        Put16(header, 4, quint16(segment.size()));
        header[6] = char(protocol);
        header[7] = char(kTimeToLive);
        header.replace(8, 16, source);
        header.replace(24, 16, destination);
    }
    return header + segment;
}

} // namespace

QByteArray UdpPacket(const PacketEnds& ends, const QByteArray& payload)
{
    QByteArray segment(kUdpHeaderBytes, '\0');
    Put16(segment, 0, ends.sourcePort);
    Put16(segment, 2, ends.destinationPort);
    Put16(segment, 4, quint16(kUdpHeaderBytes + payload.size()));
    return IpPacket(ends, kUdp, segment + payload, 6);
}

QByteArray TcpPacket(const PacketEnds& ends, quint32 sequence, quint32 acknowledgement,
                     quint8 flags, const QByteArray& payload)
{
    QByteArray segment(kTcpHeaderBytes, '\0');
    Put16(segment, 0, ends.sourcePort);
    Put16(segment, 2, ends.destinationPort);
    Put32(segment, 4, sequence);
    Put32(segment, 8, (flags & TcpFlag::Ack) ? acknowledgement : 0);
    segment[12] = char((kTcpHeaderBytes / 4) << 4);
    segment[13] = char(flags);
    Put16(segment, 14, kWindow);
    return IpPacket(ends, kTcp, segment + payload, 16);
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
    QByteArray packet =
        TcpPacket(outgoing ? out_ : out_.Reversed(), next, acknowledged, flags, payload);
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

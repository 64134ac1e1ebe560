#pragma once

#include <QByteArrayView>
#include <QHostAddress>
#include <QString>

#include <array>

// One end of a conversation. IPv4 addresses are kept IPv4-mapped, so both families compare and
// hash alike.
struct Endpoint {
    std::array<quint8, 16> address{};
    quint16 port = 0;

    QHostAddress Address() const; // an IPv4 one as IPv4
    QString Text() const;         // 10.0.0.1:5000 or [::1]:5000
    bool operator==(const Endpoint& other) const
    {
        return address == other.address && port == other.port;
    }
    bool operator<(const Endpoint& other) const
    {
        return address != other.address ? address < other.address : port < other.port;
    }
};

// What a captured TCP segment or UDP datagram says, its payload pointing into the captured bytes.
struct DecodedPacket {
    bool tcp = true;
    Endpoint source;
    Endpoint destination;
    quint32 sequence = 0;
    quint8 flags = 0;
    QByteArrayView payload;
    bool payloadCut = false; // the capture kept less than the packet carried (its snap length)
    bool fragmented = false; // the first piece of a fragmented datagram: its payload is not whole
};

enum class Decoding {
    Decoded,
    NotTcpOrUdp,   // another protocol (ARP, ICMP, ...): nothing to replay
    LaterFragment, // a piece of a datagram after its first, which holds no ports
    Damaged,       // headers that contradict themselves or are cut off
};

// Whether DecodePacket reads packets of this libpcap link type (DLT_*).
bool LinkTypeIsRead(int linkType);

// Reads the link, IP and TCP or UDP headers of one captured packet. What the packet carried is
// what its IP header says; the capture may hold less of it.
Decoding DecodePacket(int linkType, QByteArrayView captured, DecodedPacket& packet);

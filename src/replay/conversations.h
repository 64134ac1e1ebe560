#pragma once

#include "replay/packetdecoder.h"
#include "replay/tcpreassembly.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

// Bytes one side sent, as one captured packet brought them (TCP: in sequence order).
struct Chunk {
    qint64 nanoseconds = 0;
    bool fromClient = true;
    QByteArray bytes;
};

// One TCP connection or UDP conversation of a capture, as its client and server saw it.
struct Conversation {
    bool tcp = true;
    int stream = 0; // numbered as tshark numbers them (tcp.stream, udp.stream), from 0
    Endpoint client;
    Endpoint server;
    qint64 firstNs = 0; // its first and last packet
    qint64 lastNs = 0;
    std::vector<Chunk> chunks;
    bool established = true;        // TCP: the server accepted, or data went either way
    bool serverClosedFirst = false; // TCP: the server's FIN or RST came before the client's
    QString trouble;                // why it cannot be replayed as captured; empty when it can

    QString Name() const; // "tcp.stream 3 (10.0.0.1:40000 > 10.0.0.2:5000)"
};

// Which conversations of a capture are replayed.
struct ConversationChoice {
    bool tcp = true;
    std::optional<int> stream;
    // A conversation without a SYN has its client on the other port.
    quint16 serverPort = 0;
};

// Sorts packets into conversations, numbering every conversation of the chosen protocol in the
// order of its first packet, and keeps the chosen ones.
class ConversationBuilder {
public:
    explicit ConversationBuilder(const ConversationChoice& choice) : choice_(choice) {}

    // `selected`: whether the packet passed the filter (all packets count for the numbering).
    void Add(const DecodedPacket& packet, qint64 nanoseconds, qint64 number, bool selected);
    // The kept conversations, in order, each with its client side decided.
    std::vector<Conversation> Finish();
    int StreamCount() const { return int(tracked_.size()); }

private:
    struct Side {
        TcpReassembly stream;
        bool sentSyn = false;
    };
    struct Tracked {
        Conversation conversation;
        Endpoint ends[2]; // ends[0] sent the first packet
        Side sides[2];
        std::optional<quint32> synSequence;
        bool over = false;     // a FIN or RST was seen: a new SYN starts another stream
        bool accepted = false; // a SYN-ACK was seen
        int firstCloser = -1;
        bool kept = false; // chosen and with a packet through the filter
    };

    Tracked& TrackedFor(const DecodedPacket& packet);
    static void Keep(Tracked& tracked, int side, const DecodedPacket& packet, qint64 nanoseconds,
                     qint64 number);
    static void KeepTcp(Tracked& tracked, int side, const DecodedPacket& packet,
                        qint64 nanoseconds);
    void Settle(Tracked& tracked) const;

    ConversationChoice choice_;
    std::vector<Tracked> tracked_;
    QHash<QByteArray, int> latest_; // by both ends, the conversation they last made
};

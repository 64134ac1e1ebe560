#include "replay/conversations.h"

#include "capture/packets.h"

namespace {

QByteArray KeyOf(const Endpoint& one, const Endpoint& other)
{
    const Endpoint& low = one < other ? one : other;
    const Endpoint& high = one < other ? other : one;
    QByteArray key;
    key.reserve(36);
    for (const Endpoint* end : {&low, &high}) {
        key.append(reinterpret_cast<const char*>(end->address.data()), 16);
        key.append(char(end->port >> 8)).append(char(end->port & 0xFF));
    }
    return key;
}

bool Opens(const DecodedPacket& packet)
{
    return packet.tcp && (packet.flags & TcpFlag::Syn) && !(packet.flags & TcpFlag::Ack);
}

QString TroubleOf(const DecodedPacket& packet, qint64 number)
{
    if (packet.fragmented)
        return QStringLiteral("packet %1 is a piece of a datagram sent in fragments, which "
                              "replay does not put together")
            .arg(number);
    return QStringLiteral("packet %1 holds only part of its payload (the capture's snap length "
                          "cut it off)")
        .arg(number);
}

} // namespace

QString Conversation::Name() const
{
    return QStringLiteral("%1.stream %2 (%3 > %4)")
        .arg(tcp ? QStringLiteral("tcp") : QStringLiteral("udp"))
        .arg(stream)
        .arg(client.Text(), server.Text());
}

void ConversationBuilder::Add(const DecodedPacket& packet, qint64 nanoseconds, qint64 number,
                              bool selected)
{
    if (packet.tcp != choice_.tcp)
        return;
    Tracked& tracked = TrackedFor(packet);
    const int side = packet.source == tracked.ends[0] ? 0 : 1;
    if (Opens(packet) && !tracked.synSequence)
        tracked.synSequence = packet.sequence;
    if (packet.tcp && (packet.flags & (TcpFlag::Fin | TcpFlag::Rst)))
        tracked.over = true;
    if (selected && (!choice_.stream || *choice_.stream == tracked.conversation.stream))
        Keep(tracked, side, packet, nanoseconds, number);
}

// As tshark does, a SYN with a new sequence number on the ends of a connection that has closed
// starts another one.
ConversationBuilder::Tracked& ConversationBuilder::TrackedFor(const DecodedPacket& packet)
{
    const QByteArray key = KeyOf(packet.source, packet.destination);
    const auto found = latest_.constFind(key);
    if (found != latest_.constEnd()) {
        Tracked& tracked = tracked_[size_t(*found)];
        if (!(Opens(packet) && tracked.over && tracked.synSequence != packet.sequence))
            return tracked;
    }
    Tracked fresh;
    fresh.conversation.tcp = choice_.tcp;
    fresh.conversation.stream = int(tracked_.size());
    fresh.ends[0] = packet.source;
    fresh.ends[1] = packet.destination;
    latest_.insert(key, int(tracked_.size()));
    tracked_.push_back(std::move(fresh));
    return tracked_.back();
}

void ConversationBuilder::Keep(Tracked& tracked, int side, const DecodedPacket& packet,
                               qint64 nanoseconds, qint64 number)
{
    Conversation& conversation = tracked.conversation;
    if (!tracked.kept)
        conversation.firstNs = nanoseconds;
    tracked.kept = true;
    conversation.lastNs = nanoseconds;
    if (conversation.trouble.isEmpty() && (packet.payloadCut || packet.fragmented))
        conversation.trouble = TroubleOf(packet, number);
    if (packet.tcp)
        KeepTcp(tracked, side, packet, nanoseconds);
    else // an empty datagram is a datagram too
        conversation.chunks.push_back({nanoseconds, side == 0, packet.payload.toByteArray()});
}

void ConversationBuilder::KeepTcp(Tracked& tracked, int side, const DecodedPacket& packet,
                                  qint64 nanoseconds)
{
    Side& from = tracked.sides[side];
    const bool syn = packet.flags & TcpFlag::Syn;
    if (syn) {
        from.stream.Syn(packet.sequence);
        from.sentSyn = from.sentSyn || !(packet.flags & TcpFlag::Ack);
        tracked.accepted = tracked.accepted || (packet.flags & TcpFlag::Ack);
    }
    QByteArray bytes = from.stream.Segment(packet.sequence + (syn ? 1 : 0), packet.payload);
    if (!bytes.isEmpty())
        tracked.conversation.chunks.push_back({nanoseconds, side == 0, std::move(bytes)});
    if ((packet.flags & (TcpFlag::Fin | TcpFlag::Rst)) && tracked.firstCloser < 0)
        tracked.firstCloser = side;
}

// The client is the side that sent the SYN; without one, the side not on the server's port,
// and when that does not tell either, the side that sent first.
void ConversationBuilder::Settle(Tracked& tracked) const
{
    Conversation& conversation = tracked.conversation;
    int client = 0;
    if (tracked.sides[0].sentSyn != tracked.sides[1].sentSyn)
        client = tracked.sides[0].sentSyn ? 0 : 1;
    else if (tracked.ends[0].port == choice_.serverPort &&
             tracked.ends[1].port != choice_.serverPort)
        client = 1;
    conversation.client = tracked.ends[client];
    conversation.server = tracked.ends[1 - client];
    if (client == 1) {
        for (Chunk& chunk : conversation.chunks)
            chunk.fromClient = !chunk.fromClient;
    }
    conversation.serverClosedFirst = tracked.firstCloser == 1 - client;
    conversation.established =
        !conversation.tcp || tracked.accepted || !conversation.chunks.empty();
    for (int side : {client, 1 - client}) {
        const TcpReassembly& stream = tracked.sides[side].stream;
        if (stream.Waiting() && conversation.trouble.isEmpty())
            conversation.trouble =
                QStringLiteral("the capture misses bytes the %1 sent, from "
                               "its byte %2 on (a packet it lost)")
                    .arg(side == client ? QStringLiteral("client") : QStringLiteral("server"))
                    .arg(stream.Delivered());
    }
}

std::vector<Conversation> ConversationBuilder::Finish()
{
    std::vector<Conversation> kept;
    for (Tracked& tracked : tracked_) {
        if (!tracked.kept)
            continue;
        Settle(tracked);
        kept.push_back(std::move(tracked.conversation));
    }
    return kept;
}

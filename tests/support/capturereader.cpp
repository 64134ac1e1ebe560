#include "support/capturereader.h"

#include <QtEndian>
#include <pcap/pcap.h>

namespace {

quint16 Get16(const uchar* at)
{
    return qFromBigEndian<quint16>(at);
}

quint32 Sum(const uchar* data, int size, quint32 sum = 0)
{
    for (int i = 0; i + 1 < size; i += 2)
        sum += quint32(data[i]) << 8 | data[i + 1];
    if (size % 2)
        sum += quint32(data[size - 1]) << 8;
    return sum;
}

bool Folds(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return sum == 0xFFFF;
}

CapturedPacket Parse(const pcap_pkthdr& header, const uchar* data)
{
    CapturedPacket packet;
    packet.nanoseconds = qint64(header.ts.tv_sec) * 1000000000 + header.ts.tv_usec;
    packet.ipVersion = data[0] >> 4;
    const bool v4 = packet.ipVersion == 4;
    const int ipBytes = v4 ? (data[0] & 0x0F) * 4 : 40;
    const int segmentBytes = v4 ? Get16(data + 2) - ipBytes : Get16(data + 4);
    const int protocol = v4 ? data[9] : data[6];
    const int addressBytes = v4 ? 4 : 16;
    const uchar* source = data + (v4 ? 12 : 8);
    packet.source = v4 ? QHostAddress(qFromBigEndian<quint32>(source)) : QHostAddress(source);
    const uchar* destination = source + addressBytes;
    packet.destination =
        v4 ? QHostAddress(qFromBigEndian<quint32>(destination)) : QHostAddress(destination);
    packet.ipChecksumOk = !v4 || Folds(Sum(data, ipBytes));

    const uchar* segment = data + ipBytes;
    quint32 pseudo = Sum(source, 2 * addressBytes) + quint32(protocol) + quint32(segmentBytes);
    packet.transportChecksumOk = Folds(Sum(segment, segmentBytes, pseudo));
    packet.tcp = protocol == 6;
    packet.sourcePort = Get16(segment);
    packet.destinationPort = Get16(segment + 2);
    int headerBytes = 8;
    if (packet.tcp) {
        packet.sequence = qFromBigEndian<quint32>(segment + 4);
        packet.acknowledgement = qFromBigEndian<quint32>(segment + 8);
        packet.flags = segment[13];
        headerBytes = (segment[12] >> 4) * 4;
    }
    packet.payload = QByteArray(reinterpret_cast<const char*>(segment + headerBytes),
                                segmentBytes - headerBytes);
    return packet;
}

} // namespace

QList<CapturedPacket> ReadCapture(const QString& path, QString* error)
{
    char errors[PCAP_ERRBUF_SIZE] = {};
    pcap_t* capture = pcap_open_offline_with_tstamp_precision(path.toLocal8Bit().constData(),
                                                              PCAP_TSTAMP_PRECISION_NANO, errors);
    QList<CapturedPacket> packets;
    if (!capture) {
        if (error)
            *error = QString::fromLocal8Bit(errors);
        return packets;
    }
    if (pcap_datalink(capture) != DLT_RAW) {
        if (error)
            *error = QStringLiteral("not a raw IP capture");
        pcap_close(capture);
        return packets;
    }
    pcap_pkthdr* header = nullptr;
    const uchar* data = nullptr;
    while (pcap_next_ex(capture, &header, &data) == 1)
        packets.append(Parse(*header, data));
    pcap_close(capture);
    return packets;
}

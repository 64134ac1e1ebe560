#include "replay/capturereader.h"

#include "replay/packetdecoder.h"

#include <pcap/pcap.h>

#include <memory>

namespace {

struct PcapCloser {
    void operator()(pcap_t* handle) const { pcap_close(handle); }
};
using Pcap = std::unique_ptr<pcap_t, PcapCloser>;

// A compiled filter, freed with it; none keeps every packet.
class PacketFilter {
public:
    ~PacketFilter()
    {
        if (compiled_)
            pcap_freecode(&program_);
    }
    bool Compile(pcap_t* handle, const QString& expression, QString& why)
    {
        if (expression.isEmpty())
            return true;
        if (pcap_compile(handle, &program_, expression.toUtf8().constData(), 1,
                         PCAP_NETMASK_UNKNOWN) != 0) {
            why = QStringLiteral("--filter: %1").arg(QString::fromLocal8Bit(pcap_geterr(handle)));
            return false;
        }
        compiled_ = true;
        return true;
    }
    bool Passes(const pcap_pkthdr* header, const u_char* data) const
    {
        return !compiled_ || pcap_offline_filter(&program_, header, data) != 0;
    }

private:
    bpf_program program_{};
    bool compiled_ = false;
};

QString LinkTypeText(int linkType)
{
    const char* name = pcap_datalink_val_to_name(linkType);
    return name ? QString::fromLatin1(name) : QString::number(linkType);
}

bool ReadPackets(pcap_t* handle, const CaptureRequest& request, CaptureContents& contents,
                 QString& why)
{
    const int linkType = pcap_datalink(handle);
    if (!LinkTypeIsRead(linkType)) {
        why = QStringLiteral("its link type %1 is not one replay reads (raw IP, Ethernet, Linux "
                             "cooked, BSD loopback)")
                  .arg(LinkTypeText(linkType));
        return false;
    }
    PacketFilter filter;
    if (!filter.Compile(handle, request.filter, why))
        return false;
    ConversationBuilder builder(request.choice);
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    qint64 number = 0;
    int status = 0;
    while ((status = pcap_next_ex(handle, &header, &data)) == 1) {
        ++number;
        DecodedPacket packet;
        const QByteArrayView captured(data, qsizetype(header->caplen));
        const Decoding decoding = DecodePacket(linkType, captured, packet);
        contents.damaged += decoding == Decoding::Damaged ? 1 : 0;
        if (decoding != Decoding::Decoded)
            continue;
        // Opened for nanoseconds, libpcap gives them in the microseconds' field.
        const qint64 ns = qint64(header->ts.tv_sec) * 1000000000 + header->ts.tv_usec;
        builder.Add(packet, ns, number, filter.Passes(header, data));
    }
    if (status != PCAP_ERROR_BREAK) { // the end of the file
        why = QStringLiteral("damaged after packet %1: %2")
                  .arg(number)
                  .arg(QString::fromLocal8Bit(pcap_geterr(handle)));
        return false;
    }
    contents.streamCount = builder.StreamCount();
    contents.conversations = builder.Finish();
    return true;
}

} // namespace

bool ReadCaptureFile(const QString& path, const CaptureRequest& request, CaptureContents& contents,
                     QString& why)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    Pcap handle(pcap_open_offline_with_tstamp_precision(path.toLocal8Bit().constData(),
                                                        PCAP_TSTAMP_PRECISION_NANO, error));
    if (!handle) {
        why = QString::fromLocal8Bit(error);
        return false;
    }
    return ReadPackets(handle.get(), request, contents, why);
}

bool ReadCaptureStream(FILE* file, const CaptureRequest& request, CaptureContents& contents,
                       QString& why)
{
    char error[PCAP_ERRBUF_SIZE] = {};
    Pcap handle(pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, error));
    if (!handle) {
        std::fclose(file);
        why = QString::fromLocal8Bit(error);
        return false;
    }
    return ReadPackets(handle.get(), request, contents, why);
}

// Whatever bytes a capture file holds, reading it as peertest-cli replay does ends in its
// conversations or in a reason, never a crash; what it gives stays inside what the file held.
#include "replay/capturereader.h"
#include "replay/exchanges.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckConversations(const CaptureContents& contents, bool tcp, size_t fileSize)
{
    qsizetype bytes = 0;
    for (const Conversation& conversation : contents.conversations) {
        Require(conversation.tcp == tcp && conversation.stream < contents.streamCount);
        for (const Exchange& exchange : ExchangesOf(conversation)) {
            bytes += exchange.payload.size();
            for (const QByteArray& answer : exchange.answers)
                bytes += answer.size();
        }
    }
    // Bytes captured twice come out once, so the turns never hold more than the file.
    Require(bytes <= qsizetype(fileSize));
}

void Read(const uint8_t* data, size_t size, bool tcp, const QString& filter)
{
    // fmemopen refuses an empty buffer; libpcap would refuse the empty file anyway.
    FILE* file = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : nullptr;
    if (!file)
        return;
    CaptureRequest request;
    request.choice.tcp = tcp;
    request.choice.serverPort = 5000;
    request.filter = filter;
    CaptureContents contents;
    QString why;
    if (!ReadCaptureStream(file, request, contents, why)) {
        Require(!why.isEmpty());
        return;
    }
    CheckConversations(contents, tcp, size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Read(data, size, true, QString());
    Read(data, size, false, QStringLiteral("udp and not port 53"));
    return 0;
}

// The floor for a receiver that answers by rules: the least one that logs every request and
// every answer as a line of its own must do, with no window and no rules language. It reads in
// recvmmsg batches of 64, compares each request with the same ten 16-byte requests the bench's
// rules file names (the tenth matches), logs "RCV[" hex "]" and "AUTO[r10]:[" hex "]" with an
// open, append and close each, and answers the batch with one sendmmsg (the request echoed).
// With "kept" as a fourth argument it keeps what the program promises besides: one socket takes
// IPv4 and IPv6 peers alike, no line is glued onto a torn one (floorline.h), and an answer's line
// is written only once the system has taken the answer, so each is sent on its own before it.
// Serves PORT, logging into FILE, until COUNT requests or a second of quiet, then prints:
// requests answered, CPU microseconds per request.
#include "floorline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBatch = 64;
constexpr size_t kLargest = 65536;
constexpr int kRules = 10;

// Which of the ten requests this is, 0 for none: the same comparisons, in the same order, as
// the rules file's ten rules.
int RuleOf(const unsigned char* data, size_t size)
{
    for (int rule = 1; rule <= kRules; ++rule) {
        char request[17];
        std::snprintf(request, sizeof request, "REQUEST-%08d", rule);
        if (size == 16 && std::memcmp(data, request, 16) == 0)
            return rule;
    }
    return 0;
}

int BoundSocket(int port, bool dualStack)
{
    const int fd = socket(dualStack ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    const int buffer = 128 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_storage local{};
    if (dualStack) {
        const int no = 0;
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        auto* any = reinterpret_cast<sockaddr_in6*>(&local);
        any->sin6_family = AF_INET6;
        any->sin6_port = htons(port);
        any->sin6_addr = in6addr_any;
    } else {
        auto* loopback = reinterpret_cast<sockaddr_in*>(&local);
        loopback->sin_family = AF_INET;
        loopback->sin_port = htons(port);
        loopback->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    const socklen_t size = dualStack ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), size) != 0)
        return -1;
    return fd;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "kept")) {
        std::fprintf(stderr, "usage: %s PORT COUNT FILE [kept]\n", argv[0]);
        return 2;
    }
    const bool kept = argc == 5;
    const int fd = BoundSocket(std::atoi(argv[1]), kept);
    if (fd < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const long long count = std::atoll(argv[2]);
    std::vector<unsigned char> buffers(kBatch * kLargest);
    iovec pieces[kBatch];
    sockaddr_storage senders[kBatch];
    mmsghdr messages[kBatch] = {};
    mmsghdr answers[kBatch] = {};
    iovec answerPieces[kBatch];
    std::string line;
    long long answered = 0;
    double cpuAtFirst = 0;
    int quietMs = 30000;
    pollfd readable{fd, POLLIN, 0};
    while (answered < count && poll(&readable, 1, quietMs) > 0) {
        for (int i = 0; i < kBatch; ++i) {
            pieces[i] = {buffers.data() + i * kLargest, kLargest};
            messages[i].msg_hdr = {};
            messages[i].msg_hdr.msg_iov = &pieces[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_name = &senders[i];
            messages[i].msg_hdr.msg_namelen = sizeof senders[i];
        }
        const int got = recvmmsg(fd, messages, kBatch, MSG_DONTWAIT, nullptr);
        if (got <= 0)
            continue;
        if (answered == 0) {
            cpuAtFirst = CpuSeconds();
            quietMs = 1000;
        }
        int toSend = 0;
        for (int i = 0; i < got; ++i) {
            const auto* data = static_cast<unsigned char*>(pieces[i].iov_base);
            const size_t size = messages[i].msg_len;
            AppendFloorLine(argv[3], kept, "RCV[", data, size, line);
            if (RuleOf(data, size) == 0)
                continue;
            if (kept) {
                if (sendto(fd, data, size, 0, reinterpret_cast<sockaddr*>(&senders[i]),
                           messages[i].msg_hdr.msg_namelen) == ssize_t(size)) {
                    ++answered;
                    AppendFloorLine(argv[3], kept, "AUTO[r10]:[", data, size, line);
                }
                continue;
            }
            AppendFloorLine(argv[3], kept, "AUTO[r10]:[", data, size, line);
            answerPieces[toSend] = {pieces[i].iov_base, size};
            answers[toSend].msg_hdr = {};
            answers[toSend].msg_hdr.msg_iov = &answerPieces[toSend];
            answers[toSend].msg_hdr.msg_iovlen = 1;
            answers[toSend].msg_hdr.msg_name = &senders[i];
            answers[toSend].msg_hdr.msg_namelen = messages[i].msg_hdr.msg_namelen;
            ++toSend;
        }
        if (toSend > 0)
            answered += sendmmsg(fd, answers, toSend, 0);
    }
    const double cpu = CpuSeconds() - cpuAtFirst;
    std::printf("%lld %.3f\n", answered, answered > 1 ? cpu * 1e6 / double(answered) : 0.0);
    return 0;
}

// The floor: the least any receiver that logs every datagram as a line of its own must do, with
// no window. It reads in recvmmsg batches of 64, formats both stamps once a second, writes the
// line the program would log ("RCV[" hex "]") and opens, appends and closes the day file for each
// line (open with O_APPEND | O_NOFOLLOW, write, close). With "ends" as a fourth argument it also
// keeps the window's guarantee that no line is glued onto a torn one: it asks where the file ends
// before each write, and only a file that does not end where its own last line did has its type
// and its last two bytes read. Receives on PORT into FILE until COUNT datagrams or a second of
// quiet, then prints: datagrams received, CPU microseconds per datagram, seconds from the first
// datagram to the last.
#include "floorline.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kBatch = 64;
constexpr size_t kLargest = 65536;

double Seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

int BoundSocket(int port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    // As deep as the window's (udpsocket_linux.cpp), so the two differ in work, not in depth.
    const int buffer = 128 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return -1;
    return fd;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "ends")) {
        std::fprintf(stderr, "usage: %s PORT COUNT FILE [ends]\n", argv[0]);
        return 2;
    }
    const int fd = BoundSocket(std::atoi(argv[1]));
    if (fd < 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const long long count = std::atoll(argv[2]);
    const bool askEnd = argc == 5;
    std::vector<unsigned char> buffers(kBatch * kLargest);
    iovec pieces[kBatch];
    mmsghdr messages[kBatch] = {};
    for (int i = 0; i < kBatch; ++i) {
        pieces[i] = {buffers.data() + i * kLargest, kLargest};
        messages[i].msg_hdr.msg_iov = &pieces[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    std::string line;
    long long received = 0;
    double cpuAtFirst = 0;
    double atFirst = 0;
    double atLast = 0;
    int quietMs = 30000; // the first datagram may take a while to come
    pollfd readable{fd, POLLIN, 0};
    while (received < count && poll(&readable, 1, quietMs) > 0) {
        const int got = recvmmsg(fd, messages, kBatch, MSG_DONTWAIT, nullptr);
        if (got <= 0)
            continue;
        atLast = Seconds();
        if (received == 0) {
            cpuAtFirst = CpuSeconds();
            atFirst = atLast;
            quietMs = 1000;
        }
        received += got;
        for (int i = 0; i < got; ++i)
            AppendFloorLine(argv[3], askEnd, "RCV[",
                            static_cast<unsigned char*>(pieces[i].iov_base), messages[i].msg_len,
                            line);
    }
    const double cpu = CpuSeconds() - cpuAtFirst;
    std::printf("%lld %.3f %.6f\n", received, received > 1 ? cpu * 1e6 / double(received - 1) : 0.0,
                atLast - atFirst);
    return 0;
}

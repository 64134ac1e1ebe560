// Sends COUNT datagrams of SIZE bytes (16 unless given) to 127.0.0.1:PORT, flat out (RATE 0) or
// RATE per second in one-millisecond bursts, then prints how many the system took.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void SleepUntil(const timespec& start, long long offsetNs)
{
    timespec at = start;
    at.tv_sec += offsetNs / 1000000000;
    at.tv_nsec += offsetNs % 1000000000;
    if (at.tv_nsec >= 1000000000) {
        at.tv_sec += 1;
        at.tv_nsec -= 1000000000;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s PORT COUNT RATE [SIZE]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const long long count = std::atoll(argv[2]);
    const long long rate = std::atoll(argv[3]);
    const int size = argc == 5 ? std::atoi(argv[4]) : 16;
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    const long long perBurst = rate > 0 ? (rate + 999) / 1000 : count;
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    long long sent = 0;
    static char payload[65536] = {}; // a counter in its first 16 characters
    for (long long i = 0; i < count; ++i) {
        if (rate > 0 && i % perBurst == 0)
            SleepUntil(start, i * 1000000000LL / rate);
        char counter[24];
        std::snprintf(counter, sizeof counter, "%016lld", i);
        std::memcpy(payload, counter, 16);
        if (sendto(fd, payload, size, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == size)
            ++sent;
    }
    close(fd);
    std::printf("%lld\n", sent);
    return 0;
}

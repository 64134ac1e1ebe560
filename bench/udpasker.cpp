// Sends COUNT datagrams "Q" + an eight-digit number to 127.0.0.1:PORT, RATE a second in
// one-millisecond bursts, taking the answers in between, then waits up to two seconds for the
// rest. Prints the datagrams sent and how many distinct ones were answered by their own number.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

// Waits up to `waitNs` for answers, then takes all that have come; counts each number once.
void TakeAnswers(int fd, std::vector<char>& answered, long long& count, long long waitNs)
{
    pollfd wanted{fd, POLLIN, 0};
    const timespec wait{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
    if (ppoll(&wanted, 1, &wait, nullptr) <= 0)
        return;
    char buffer[64];
    ssize_t got;
    while ((got = recv(fd, buffer, sizeof buffer - 1, MSG_DONTWAIT)) >= 0) {
        if (got < 9)
            continue;
        buffer[got] = '\0';
        const long long number = std::atoll(buffer + got - 8);
        if (number >= 0 && number < (long long)answered.size() && !answered[size_t(number)]) {
            answered[size_t(number)] = 1;
            ++count;
        }
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT COUNT RATE\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const long long total = std::atoll(argv[2]);
    const long long rate = std::atoll(argv[3]);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 8 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<char> answered(size_t(total), 0);
    long long sent = 0;
    long long count = 0;
    const long long start = NowNs();
    const long long perBurst = (rate + 999) / 1000;
    for (long long i = 0; i < total; ++i) {
        if (i % perBurst == 0) {
            const long long due = start + i * 1000000000LL / rate;
            for (long long left; (left = due - NowNs()) > 0;)
                TakeAnswers(fd, answered, count, left);
        }
        char request[16];
        std::snprintf(request, sizeof request, "Q%08lld", i);
        if (sendto(fd, request, 9, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 9)
            ++sent;
    }
    const long long end = NowNs() + 2000000000LL;
    while (count < sent && NowNs() < end)
        TakeAnswers(fd, answered, count, 100000000);
    std::printf("%lld %lld\n", sent, count);
    return 0;
}

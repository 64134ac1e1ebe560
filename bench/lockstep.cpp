// CONNECTIONS clients of 127.0.0.1:PORT at once, each in lockstep: it sends "PINGnnnn\r\n" and
// waits for the 10-byte answer before its next, EXCHANGES times. Prints the exchanges made, the
// seconds they took, and the median and 99th percentile round trip in microseconds.
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSize = 10;

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

struct Client {
    int fd = -1;
    long long done = 0;
    long long sentAt = 0;
    int got = 0;
};

bool SendNext(Client& client)
{
    char request[kSize + 1];
    std::snprintf(request, sizeof request, "PING%04lld\r\n", client.done % 10000);
    client.sentAt = NowNs();
    client.got = 0;
    return write(client.fd, request, kSize) == kSize;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT CONNECTIONS EXCHANGES\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int connections = std::atoi(argv[2]);
    const long long exchanges = std::atoll(argv[3]);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int poller = epoll_create1(0);
    std::vector<Client> clients(connections);
    for (int i = 0; i < connections; ++i) {
        clients[i].fd = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(clients[i].fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (connect(clients[i].fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            return 1;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = unsigned(i);
        epoll_ctl(poller, EPOLL_CTL_ADD, clients[i].fd, &event);
    }
    std::vector<long long> trips;
    trips.reserve(size_t(exchanges * connections));
    const long long start = NowNs();
    for (Client& client : clients)
        SendNext(client);
    int running = connections;
    char buffer[4096];
    epoll_event ready[256];
    while (running > 0) {
        const int count = epoll_wait(poller, ready, 256, 10000);
        if (count <= 0)
            break; // a peer that stopped answering ends the run
        for (int i = 0; i < count; ++i) {
            Client& client = clients[ready[i].data.u32];
            const ssize_t got = read(client.fd, buffer, sizeof buffer);
            if (got <= 0)
                return 1;
            client.got += int(got);
            if (client.got < kSize)
                continue;
            trips.push_back(NowNs() - client.sentAt);
            if (++client.done == exchanges)
                --running;
            else
                SendNext(client);
        }
    }
    const double seconds = double(NowNs() - start) / 1e9;
    std::sort(trips.begin(), trips.end());
    const auto at = [&](double share) {
        return trips.empty() ? 0.0 : double(trips[size_t(share * double(trips.size() - 1))]) / 1e3;
    };
    std::printf("%zu %.6f %.1f %.1f\n", trips.size(), seconds, at(0.5), at(0.99));
    return 0;
}

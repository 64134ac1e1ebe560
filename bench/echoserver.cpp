// Listens on 127.0.0.1, prints its port, and echoes every read of every connection back as it
// came, closing a connection when its peer closes; many connections at once (epoll). Runs until
// its standard input closes.
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

int main()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1024) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const int poller = epoll_create1(0);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    epoll_ctl(poller, EPOLL_CTL_ADD, listener, &event);
    event.data.fd = STDIN_FILENO;
    epoll_ctl(poller, EPOLL_CTL_ADD, STDIN_FILENO, &event);
    char buffer[65536];
    epoll_event ready[64];
    for (;;) {
        const int count = epoll_wait(poller, ready, 64, -1);
        for (int i = 0; i < count; ++i) {
            const int fd = ready[i].data.fd;
            if (fd == STDIN_FILENO)
                return 0;
            if (fd == listener) {
                const int peer = accept(listener, nullptr, nullptr);
                const int on = 1;
                setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                event.data.fd = peer;
                epoll_ctl(poller, EPOLL_CTL_ADD, peer, &event);
                continue;
            }
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0 || write(fd, buffer, size_t(got)) != got)
                close(fd);
        }
    }
}

// Listens on 127.0.0.1, prints its port, takes one connection and writes BYTES to it in CHUNK
// writes, then closes once the other side has closed or a minute has passed.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s BYTES CHUNK\n", argv[0]);
        return 2;
    }
    const long long total = std::atoll(argv[1]);
    const long long chunk = std::atoll(argv[2]);
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    std::printf("%d\n", ntohs(address.sin_port));
    std::fflush(stdout);

    const int peer = accept(listener, nullptr, nullptr);
    std::vector<char> block(chunk);
    for (long long i = 0; i < chunk; ++i)
        block[i] = char(i * 7);
    long long pushed = 0;
    while (pushed < total) {
        const long long want = std::min(chunk, total - pushed);
        const ssize_t written = write(peer, block.data(), want);
        if (written <= 0)
            return 1;
        pushed += written;
    }
    shutdown(peer, SHUT_WR);
    pollfd closed{peer, POLLIN, 0};
    char sink[4096];
    while (poll(&closed, 1, 60000) > 0 && read(peer, sink, sizeof sink) > 0) {
    }
    close(peer);
    return 0;
}

// Sends COUNT requests of 16 bytes ("REQUEST-00000010", the bench rules file's tenth) to
// 127.0.0.1:PORT at RATE a second in one-millisecond bursts, from one socket, reading the
// answers as they come; waits up to two seconds after the last for the rest. Prints: requests
// sent, answers received.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

double Seconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

long long ReadAnswers(int fd)
{
    char answer[2048];
    long long read = 0;
    while (recv(fd, answer, sizeof answer, MSG_DONTWAIT) > 0)
        ++read;
    return read;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT COUNT RATE\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const long long count = std::atoll(argv[2]);
    const long long rate = std::atoll(argv[3]);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 64 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const char request[] = "REQUEST-00000010";
    const long long perBurst = (rate + 999) / 1000;
    const double start = Seconds();
    long long sent = 0;
    long long answers = 0;
    for (long long i = 0; i < count; ++i) {
        if (i % perBurst == 0) {
            const double due = start + double(i) / double(rate);
            while (Seconds() < due) {
                answers += ReadAnswers(fd);
                usleep(200);
            }
        }
        if (sendto(fd, request, 16, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == 16)
            ++sent;
    }
    const double end = Seconds();
    while (answers < sent && Seconds() < end + 2) {
        answers += ReadAnswers(fd);
        usleep(1000);
    }
    close(fd);
    std::printf("%lld %lld\n", sent, answers);
    return 0;
}

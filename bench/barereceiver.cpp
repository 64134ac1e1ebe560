// The least a receiver that logs every datagram must do, with no window: read one datagram,
// format the line the program would log (both stamps, "RCV[" hex "]"), then open, append and
// close the day file. Receives on PORT into FILE until COUNT datagrams or a second of quiet,
// then prints: datagrams received, CPU microseconds per datagram.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Stamp()
{
    const time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    char text[32];
    strftime(text, sizeof text, "%m-%d-%Y %H:%M:%S ", &local);
    return text;
}

std::string Line(const unsigned char* data, ssize_t size)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string line = Stamp() + Stamp() + "RCV[";
    for (ssize_t i = 0; i < size; ++i) {
        line += digits[data[i] >> 4];
        line += digits[data[i] & 15];
    }
    return line + "]\r\n";
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s PORT COUNT FILE\n", argv[0]);
        return 2;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int buffer = 4 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(std::atoi(argv[1]));
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const long long count = std::atoll(argv[2]);
    unsigned char datagram[65536];
    long long received = 0;
    double cpuAtFirst = 0;
    timeval quiet{30, 0}; // the first datagram may take a while to come
    while (received < count) {
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof quiet);
        const ssize_t size = recv(fd, datagram, sizeof datagram, 0);
        if (size < 0)
            break;
        if (received++ == 0) {
            cpuAtFirst = CpuSeconds();
            quiet = {1, 0};
        }
        const std::string line = Line(datagram, size);
        const int out = open(argv[3], O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (out >= 0) {
            (void)!write(out, line.data(), line.size());
            close(out);
        }
    }
    const double cpu = CpuSeconds() - cpuAtFirst;
    std::printf("%lld %.3f\n", received, received > 1 ? cpu * 1e6 / double(received - 1) : 0.0);
    return 0;
}

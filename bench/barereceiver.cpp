// The floor: the least any receiver that logs every datagram as a line of its own must do, with
// no window. It reads in recvmmsg batches of 64, formats both stamps once a second, writes the
// line the program would log ("RCV[" hex "]") and opens, appends and closes the day file for each
// line (open with O_APPEND | O_NOFOLLOW, write, close). With "ends" as a fourth argument it also
// keeps the window's guarantee that no line is glued onto a torn one: it asks where the file ends
// before each write, and only a file that does not end where its own last line did has its type
// and its last two bytes read. Receives on PORT into FILE until COUNT datagrams or a second of
// quiet, then prints: datagrams received, CPU microseconds per datagram, seconds from the first
// datagram to the last.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Both stamps of a line ("MM-dd-yyyy HH:mm:ss " twice), formatted again only when the second
// changes.
const std::string& Stamps()
{
    static time_t formatted = -1;
    static std::string stamps;
    const time_t now = time(nullptr);
    if (now != formatted) {
        tm local{};
        localtime_r(&now, &local);
        char text[32];
        strftime(text, sizeof text, "%m-%d-%Y %H:%M:%S ", &local);
        stamps = std::string(text) + text;
        formatted = now;
    }
    return stamps;
}

// Whether a line written at `end` of the file open as `out` would be glued onto a torn one; -1
// for anything but a regular file.
int EndsTorn(const char* file, int out, off_t end)
{
    struct stat status {};
    if (fstat(out, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    if (end <= 0)
        return 0;
    const int in = open(file, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    char tail[2] = {};
    const off_t wanted = end < 2 ? end : 2;
    const bool gotTail =
        in >= 0 && pread(in, tail + 2 - wanted, size_t(wanted), end - wanted) == wanted;
    if (in >= 0)
        close(in);
    return gotTail && !(tail[0] == '\r' && tail[1] == '\n') ? 1 : 0;
}

// With `askEnd`, where the last line ended (-1 until one has), so the common path is one lseek.
void AppendLine(const char* file, bool askEnd, const unsigned char* data, size_t size,
                std::string& line)
{
    static const char digits[] = "0123456789ABCDEF";
    static off_t lastEnd = -1;
    line = Stamps();
    line += "RCV[";
    for (size_t i = 0; i < size; ++i) {
        line += digits[data[i] >> 4];
        line += digits[data[i] & 15];
    }
    line += "]\r\n";
    const int out = open(file, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (out < 0)
        return;
    if (!askEnd) {
        (void)!write(out, line.data(), line.size());
        close(out);
        return;
    }
    const off_t end = lseek(out, 0, SEEK_END);
    const int torn = end == lastEnd ? 0 : EndsTorn(file, out, end);
    if (torn == 1)
        line.insert(0, "\r\n");
    const ssize_t written = torn < 0 ? -1 : write(out, line.data(), line.size());
    lastEnd = written == ssize_t(line.size()) ? end + off_t(written) : -1;
    close(out);
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
            AppendLine(argv[3], askEnd, static_cast<unsigned char*>(pieces[i].iov_base),
                       messages[i].msg_len, line);
    }
    const double cpu = CpuSeconds() - cpuAtFirst;
    std::printf("%lld %.3f %.6f\n", received, received > 1 ? cpu * 1e6 / double(received - 1) : 0.0,
                atLast - atFirst);
    return 0;
}

#include "floorline.h"

#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void AppendFloorLine(const char* file, bool askEnd, const char* tag, const unsigned char* data,
                     size_t size, std::string& line)
{
    static const char digits[] = "0123456789ABCDEF";
    static off_t lastEnd = -1; // where this program's last line ended, -1 until one has
    line = Stamps();
    line += tag;
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

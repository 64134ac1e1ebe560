#include "net/peerreset.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

int WatchForReset(qintptr descriptor)
{
    return descriptor < 0 ? -1 : ::fcntl(int(descriptor), F_DUPFD_CLOEXEC, 0);
}

bool EndResetWatch(int& watch)
{
    if (watch < 0)
        return false;
    // After the peer's FIN the connection waits for ours (CLOSE_WAIT); after a reset it is over.
    tcp_info info = {};
    socklen_t size = sizeof info;
    const bool reset = ::getsockopt(watch, IPPROTO_TCP, TCP_INFO, &info, &size) == 0 &&
                       info.tcpi_state == TCP_CLOSE;
    ::close(watch);
    watch = -1;
    return reset;
}

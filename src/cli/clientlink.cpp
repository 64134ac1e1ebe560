#include "cli/clientlink.h"

#include "net/socketaddress.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kReadBytes = 64 * 1024;
// What a peer on the same machine takes to answer, about.
constexpr auto kQuickWait = std::chrono::milliseconds(1);

QString SystemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

timespec Remaining(const QDeadlineTimer& deadline)
{
    const qint64 ns = std::max<qint64>(0, deadline.remainingTimeNSecs());
    return timespec{time_t(ns / 1000000000), long(ns % 1000000000)};
}

// Waits for `events` until the deadline; false when it passed first.
bool WaitFor(int fd, short events, const QDeadlineTimer& deadline)
{
    pollfd wanted{fd, events, 0};
    for (;;) {
        const timespec left = Remaining(deadline);
        const int ready = ::ppoll(&wanted, 1, &left, nullptr);
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return ready < 0; // an error shows at the next call on the socket
    }
}

struct Addresses {
    addrinfo* list = nullptr;
    ~Addresses() { ::freeaddrinfo(list); }
};

int ConnectOne(const addrinfo& address, const QDeadlineTimer& deadline, QString& why)
{
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            address.ai_protocol);
    if (fd < 0) {
        why = SystemWords(errno);
        return -1;
    }
    int error = 0;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0)
        error = errno;
    if (error == EINPROGRESS) {
        socklen_t size = sizeof error;
        if (!WaitFor(fd, POLLOUT, deadline))
            error = ETIMEDOUT;
        else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            error = errno;
    }
    if (error == 0)
        return fd;
    why = SystemWords(error);
    ::close(fd);
    return -1;
}

} // namespace

std::unique_ptr<ClientLink> ClientLink::Open(const Target& target, QDeadlineTimer deadline,
                                             QString& why)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = target.Udp() ? SOCK_DGRAM : SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    Addresses addresses;
    const int resolved = ::getaddrinfo(target.host.toUtf8().constData(),
                                       QByteArray::number(target.port), &hints, &addresses.list);
    if (resolved != 0) {
        why = QStringLiteral("%1: the name %2 is not resolved (%3)")
                  .arg(target.Text(), target.host, QString::fromLocal8Bit(gai_strerror(resolved)));
        return nullptr;
    }
    QString lastWhy;
    for (const addrinfo* address = addresses.list; address; address = address->ai_next) {
        const int fd = ConnectOne(*address, deadline, lastWhy);
        if (fd >= 0)
            return std::unique_ptr<ClientLink>(new ClientLink(fd, target.Udp()));
        if (target.Udp())
            break;
    }
    why = QStringLiteral("%1: %2").arg(target.Text(), lastWhy);
    return nullptr;
}

ClientLink::ClientLink(int fd, bool udp)
    : fd_(fd), udp_(udp), buffer_(kReadBytes, Qt::Uninitialized)
{
    if (!udp_) {
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    NoteEnds();
}

ClientLink::~ClientLink()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void ClientLink::NoteEnds()
{
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        local_ = AddressOf(address);
        localPort_ = PortOf(address);
    }
    size = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        peer_ = AddressOf(address);
        peerPort_ = PortOf(address);
    }
}

Reading ClientLink::Send(const QByteArray& bytes, QDeadlineTimer deadline)
{
    qsizetype sent = 0;
    do {
        const ssize_t written =
            ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (written >= 0)
            sent += written;
        else if (errno == ECONNREFUSED)
            return {Reading::Kind::Refused, {}, SystemWords(errno)};
        else if (errno == EAGAIN && !WaitFor(fd_, POLLOUT, deadline))
            return {Reading::Kind::TimedOut, {}, QStringLiteral("the peer took no more bytes")};
        else if (errno != EAGAIN && errno != EINTR)
            return {Reading::Kind::Failed, {}, SystemWords(errno)};
    } while (sent < bytes.size());
    return {Reading::Kind::Bytes, {}, {}};
}

Reading ClientLink::Receive(QDeadlineTimer deadline, const std::function<void()>& beforeWaiting)
{
    bool waitedLong = false;
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer_.data(), size_t(buffer_.size()), 0);
        if (got > 0 || (got == 0 && udp_))
            return {Reading::Kind::Bytes, buffer_.left(got), {}};
        if (got == 0)
            return {Reading::Kind::Closed, {}, {}};
        if (errno == ECONNREFUSED)
            return {Reading::Kind::Refused, {}, SystemWords(errno)};
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            return {Reading::Kind::Failed, {}, SystemWords(errno)};
        // A quick peer is waited for as is; `beforeWaiting` runs only for a slow one.
        if (!waitedLong && WaitFor(fd_, POLLIN, std::min(deadline, QDeadlineTimer(kQuickWait))))
            continue;
        if (!std::exchange(waitedLong, true) && beforeWaiting)
            beforeWaiting();
        if (!WaitFor(fd_, POLLIN, deadline))
            return {Reading::Kind::TimedOut, {}, {}};
    }
}

void ClientLink::Close()
{
    if (fd_ < 0)
        return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

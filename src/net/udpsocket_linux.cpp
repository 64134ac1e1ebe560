// The UDP socket on Linux: recvmmsg for batches, SO_MEMINFO for the socket's drop count.
#include "net/udpsocket.h"

#include "net/socketaddress.h"
#include "net/socketerrors.h"

#include <QAbstractSocket>
#include <array>
#include <cerrno>
#include <cstring>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kBatch = UdpSocket::kBatch;
constexpr size_t kLargestDatagram = 65536;
// Asked of the system so a flood the program cannot keep up with waits there rather than being
// dropped: the system counts about 830 bytes for each small datagram it holds, and doubles what
// is asked, so this holds some 300,000 of them, three seconds of 100,000 a second. Memory is taken
// only while datagrams wait. An ordinary user gets what the system's limit allows
// (net.core.rmem_max), a privileged one the whole of it.
constexpr int kReceiveBufferBytes = 128 << 20;

RaisedError FailureOfErrno(int error)
{
    using S = QAbstractSocket;
    switch (error) {
    case EADDRINUSE:
        return SocketFailureOf(S::AddressInUseError);
    case EADDRNOTAVAIL:
        return SocketFailureOf(S::SocketAddressNotAvailableError);
    case EACCES:
    case EPERM:
        return SocketFailureOf(S::SocketAccessError);
    case ENOBUFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
        return SocketFailureOf(S::SocketResourceError);
    case EMSGSIZE:
        return SocketFailureOf(S::DatagramTooLargeError);
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
        return SocketFailureOf(S::NetworkError);
    case ECONNREFUSED:
        return SocketFailureOf(S::ConnectionRefusedError);
    case EAFNOSUPPORT:
    case EOPNOTSUPP:
        return SocketFailureOf(S::UnsupportedSocketOperationError);
    default:
        return SocketFailureOf(S::UnknownSocketError);
    }
}

[[noreturn]] void ThrowErrno()
{
    throw FailureOfErrno(errno);
}

// Both IPv6 and IPv4 on one socket where the system has IPv6; IPv4 alone where it has not.
int OpenBound(quint16 port, int* family)
{
    int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        const int no = 0;
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_port = htons(port);
        any.sin6_addr = in6addr_any;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0) {
            *family = AF_INET6;
            return fd;
        }
        const int error = errno;
        ::close(fd);
        if (error != EAFNOSUPPORT && error != EADDRNOTAVAIL)
            throw FailureOfErrno(error);
    }
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        ThrowErrno();
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
        const int error = errno;
        ::close(fd);
        throw FailureOfErrno(error);
    }
    *family = AF_INET;
    return fd;
}

void AskLargeReceiveBuffer(int fd)
{
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes,
                     sizeof kReceiveBufferBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
}

quint16 BoundPort(int fd)
{
    sockaddr_storage local{};
    socklen_t size = sizeof local;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0)
        return 0;
    return PortOf(local);
}

} // namespace

struct UdpSocket::Native {
    int fd = -1;
    int family = AF_INET6;
    // Left uninitialised: only the pages datagrams are written into are ever taken from memory.
    std::unique_ptr<char[]> buffer{new char[kBatch * kLargestDatagram]};
    std::array<iovec, kBatch> pieces{};
    std::array<sockaddr_storage, kBatch> senders{};
    std::array<mmsghdr, kBatch> headers{};
    sockaddr_storage lastSender{};
    bool hasSender = false;
    quint16 localPort = 0; // bound once, so asked of the system once
    mutable quint32 drops = 0;
};

UdpSocket::UdpSocket(quint16 port) : native_(std::make_unique<Native>())
{
    native_->fd = OpenBound(port, &native_->family);
    AskLargeReceiveBuffer(native_->fd);
    native_->localPort = BoundPort(native_->fd);
    for (int i = 0; i < kBatch; ++i) {
        native_->pieces[i] = {native_->buffer.get() + i * kLargestDatagram, kLargestDatagram};
        msghdr& header = native_->headers[i].msg_hdr;
        header.msg_iov = &native_->pieces[i];
        header.msg_iovlen = 1;
        header.msg_name = &native_->senders[i];
    }
}

UdpSocket::~UdpSocket()
{
    ::close(native_->fd);
}

int UdpSocket::Descriptor() const
{
    return native_->fd;
}

quint16 UdpSocket::LocalPort() const
{
    return native_->localPort;
}

void UdpSocket::SendTo(const QByteArray& data, const PeerAddress& to)
{
    sockaddr_storage address;
    const socklen_t size = to.Native(native_->family, &address);
    const ssize_t sent = ::sendto(native_->fd, data.constData(), size_t(data.size()), MSG_NOSIGNAL,
                                  reinterpret_cast<sockaddr*>(&address), size);
    if (sent != data.size())
        ThrowErrno();
}

int UdpSocket::ReadBatch()
{
    for (auto& header : native_->headers)
        header.msg_hdr.msg_namelen = sizeof(sockaddr_storage);
    const int count =
        ::recvmmsg(native_->fd, native_->headers.data(), kBatch, MSG_DONTWAIT, nullptr);
    if (count >= 0)
        return count;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    ThrowErrno();
}

void UdpSocket::CopyDatagramAt(int index, QByteArray& out) const
{
    const qsizetype size = qsizetype(native_->headers[index].msg_len);
    if (out.size() != size) // a flood's datagrams are mostly of one size
        out.resize(size);
    std::memcpy(out.data(), native_->pieces[index].iov_base, size_t(size));
}

void UdpSocket::NoteSenderOf(int index)
{
    native_->lastSender = native_->senders[index];
    native_->hasSender = true;
}

bool UdpSocket::HasSender() const
{
    return native_->hasSender;
}

// A peer on IPv4 reached over the dual-stack socket is named by its IPv4 address.
QHostAddress UdpSocket::LastSenderAddress() const
{
    return AddressOf(native_->lastSender);
}

quint16 UdpSocket::LastSenderPort() const
{
    return PortOf(native_->lastSender);
}

const sockaddr_storage& UdpSocket::LastSender() const
{
    return native_->lastSender;
}

bool UdpSocket::StopTakingIn()
{
    // A connected socket takes datagrams from its peer alone; nothing is sent from its own port
    // on the loopback address but by itself. (An IPv6 socket aimed at ::1 takes no IPv4 either.)
    const QHostAddress self(native_->family == AF_INET ? QHostAddress::LocalHost
                                                       : QHostAddress::LocalHostIPv6);
    sockaddr_storage address;
    const socklen_t size = ToSockaddr(self, native_->localPort, native_->family, &address);
    return ::connect(native_->fd, reinterpret_cast<sockaddr*>(&address), size) == 0;
}

quint32 UdpSocket::Drops() const
{
    std::array<quint32, SK_MEMINFO_VARS> meminfo{};
    socklen_t size = sizeof meminfo;
    // A system that cannot tell keeps the count where it was rather than inventing losses.
    if (::getsockopt(native_->fd, SOL_SOCKET, SO_MEMINFO, meminfo.data(), &size) == 0 &&
        size >= (SK_MEMINFO_DROPS + 1) * sizeof(quint32))
        native_->drops = meminfo[SK_MEMINFO_DROPS];
    return native_->drops;
}

#include "support/peers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Bound to `wanted` (0: the system's choice) on every IPv4 address, sharing addresses; -1 when
// the system refuses.
int BindTcpPort(quint16 wanted, quint16* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(wanted);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t size = sizeof any;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&any), &size) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(any.sin_port);
    return fd;
}

} // namespace

HeldTcpPort::HeldTcpPort(bool even)
{
    // The system gives odd ports to bind(0) and keeps even ones for outgoing connections, so an
    // even port is the neighbour below one it gave, taken while that one is still held.
    std::vector<int> odd;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        quint16 port = 0;
        int fd = BindTcpPort(0, &port);
        if (fd >= 0 && even && port % 2 != 0) {
            odd.push_back(fd);
            fd = BindTcpPort(port - 1, &port);
        }
        if (fd >= 0) {
            fd_ = fd;
            port_ = port;
        }
    }
    for (const int fd : odd)
        ::close(fd);
    if (fd_ < 0)
        qFatal("no TCP port could be bound on this machine");
}

HeldTcpPort::~HeldTcpPort()
{
    ::close(fd_);
}

void ResetConnection(QTcpSocket* socket)
{
    const linger resetOnClose{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &resetOnClose,
                 sizeof resetOnClose);
    socket->abort();
}

TcpPeer::TcpPeer(const QHostAddress& address)
{
    server_.listen(address, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            const int index = int(connections_.size());
            connections_.append(socket);
            received_.append(QByteArray());
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket, index] { received_[index] += socket->readAll(); });
        }
    });
}

void TcpPeer::send(const QByteArray& bytes, int i)
{
    connections_.at(i)->write(bytes);
    connections_.at(i)->flush();
}

void TcpPeer::closeConnection(int i)
{
    connections_.at(i)->disconnectFromHost();
}

UdpPeer::UdpPeer(const QHostAddress& address)
{
    socket_.bind(address, 0);
    connect(&socket_, &QUdpSocket::readyRead, this, [this] {
        while (socket_.hasPendingDatagrams())
            datagrams_.append(socket_.receiveDatagram());
    });
}

void UdpPeer::sendTo(quint16 port, const QByteArray& bytes)
{
    socket_.writeDatagram(bytes, QHostAddress::LocalHost, port);
}

void UdpPeer::replyToLatest(const QByteArray& bytes)
{
    const QNetworkDatagram& latest = datagrams_.constLast();
    socket_.writeDatagram(bytes, latest.senderAddress(), quint16(latest.senderPort()));
}

Flooder::Flooder(bool udp, quint16 port, int chunkSize)
    : thread_([this, udp, port, chunkSize] { Run(udp, port, chunkSize); })
{
}

Flooder::~Flooder()
{
    stop();
}

void Flooder::stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void Flooder::Run(bool udp, quint16 port, int chunkSize)
{
    const int fd = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, 0);
    // A blocked send wakes up now and then to see whether it should stop.
    const timeval wake{0, 50 * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wake, sizeof wake);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        const std::vector<char> chunk(size_t(chunkSize), 'F');
        while (!stop_) {
            const ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
            if (n > 0)
                sent_ += n;
            else if (!udp && errno != EAGAIN && errno != EWOULDBLOCK)
                break;
        }
    }
    ::close(fd);
}

#include "capture/capturetap.h"

#include "capture/capturefile.h"
#include "net/socketaddress.h"

#include <QAbstractSocket>
#include <unistd.h>

CaptureTap::CaptureTap(CaptureFile& file, std::function<void(const QString&)> notice)
    : file_(file), notice_(std::move(notice))
{
}

CaptureTap::~CaptureTap() = default;

void CaptureTap::TcpOpened(const QHostAddress& local, quint16 localPort, const QHostAddress& remote,
                           quint16 remotePort, bool outgoing)
{
    flow_ = std::make_unique<TcpFlow>(PacketEnds{local, localPort, remote, remotePort}, outgoing);
    Write(flow_->Handshake());
}

void CaptureTap::TcpData(bool outgoing, const QByteArray& bytes)
{
    if (flow_)
        Write(flow_->Data(outgoing, bytes));
}

void CaptureTap::TcpClosedHere()
{
    if (flow_)
        Write(flow_->CloseHere());
    flow_.reset();
}

void CaptureTap::TcpClosedByPeer(bool reset)
{
    if (flow_)
        Write(flow_->CloseByPeer(reset));
}

void CaptureTap::Datagram(quint16 localPort, const QHostAddress& remote, quint16 remotePort,
                          bool outgoing, const QByteArray& bytes)
{
    const PacketEnds ends{LocalAddressTowards(remote, remotePort), localPort, remote, remotePort};
    Write({UdpPacket(outgoing ? ends : ends.Reversed(), bytes, ++identification_)});
}

// The UDP socket is bound to every address, so the one a datagram to or from a peer uses is the
// one the system sends from towards that peer: asked by aiming a socket at it, which sends
// nothing.
QHostAddress CaptureTap::LocalAddressTowards(const QHostAddress& remote, quint16 port)
{
    if (remote == lastRemote_ && !lastLocal_.isNull())
        return lastLocal_;
    const bool v4 = remote.protocol() == QAbstractSocket::IPv4Protocol;
    sockaddr_storage address{};
    const socklen_t size = ToSockaddr(remote, port, v4 ? AF_INET : AF_INET6, &address);
    QHostAddress local(v4 ? QHostAddress::AnyIPv4 : QHostAddress::AnyIPv6);
    const int probe = ::socket(address.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe >= 0) {
        sockaddr_storage own{};
        socklen_t ownSize = sizeof own;
        if (::connect(probe, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            ::getsockname(probe, reinterpret_cast<sockaddr*>(&own), &ownSize) == 0)
            local = AddressOf(own);
        ::close(probe);
    }
    lastRemote_ = remote;
    lastLocal_ = local;
    return local;
}

void CaptureTap::Write(const std::vector<QByteArray>& packets)
{
    for (const QByteArray& packet : packets) {
        const QString failure = file_.Write(packet, CaptureClock());
        if (const QString repaired = file_.TakeRepairNote(); !repaired.isEmpty())
            notice_(repaired);
        if (failure.isEmpty()) {
            if (notWritten_.Count() > 0)
                notice_(QStringLiteral("Capture Err: ") + QString::number(notWritten_.Count()) +
                        QStringLiteral(" packets not written."));
            notWritten_.End();
        } else if (notWritten_.Fail()) {
            notice_(QStringLiteral("Capture Err: ") + failure + QStringLiteral(" (") +
                    file_.Path() + QLatin1Char(')'));
        }
    }
}

#include "net/capturetap.h"

#include "log/capturefile.h"

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

void CaptureTap::Datagram(const QHostAddress& local, quint16 localPort, const QHostAddress& remote,
                          quint16 remotePort, bool outgoing, const QByteArray& bytes)
{
    const PacketEnds ends{local, localPort, remote, remotePort};
    Write({UdpPacket(outgoing ? ends : ends.Reversed(), bytes)});
}

void CaptureTap::Write(const std::vector<QByteArray>& packets)
{
    for (const QByteArray& packet : packets) {
        const QString failure = file_.Write(packet, CaptureClock());
        if (failure.isEmpty()) {
            if (notWritten_ > 0)
                notice_(QStringLiteral("Capture Err: ") + QString::number(notWritten_) +
                        QStringLiteral(" packets not written."));
            notWritten_ = 0;
        } else if (notWritten_++ == 0) {
            notice_(QStringLiteral("Capture Err: ") + failure + QStringLiteral(" (") +
                    file_.Path() + QLatin1Char(')'));
        }
    }
}

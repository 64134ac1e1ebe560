#include "net/socketerrors.h"
#include "net/winsock_p.h"

#include <QNetworkDatagram>
#include <QSignalBlocker>
#include <QUdpSocket>
#include <QVariant>
#include <utility>

namespace
{

// A flood of datagrams is delivered a batch per turn of the event loop, so timers and the
// window keep running.
constexpr int kDatagramsPerTurn = 32;
constexpr int kDatagramsPerRead = 256;
// Beyond this many undelivered datagrams new ones are dropped, as a full receive buffer would.
// A burst of small datagrams is taken in faster than each can be shown and logged; this much
// (a few seconds at full speed, some megabytes) is held rather than lost.
constexpr size_t kMostWaitingDatagrams = 65536;
// Asked of the system for the same reason; it may grant less.
constexpr int kReceiveBufferBytes = 4 << 20;

// Without a handshake there is no telling which address a peer listens on; IPv4 is the one
// peers bind most often.
QHostAddress PreferIPv4(const QList<QHostAddress>& addresses)
{
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    }
    return addresses.isEmpty() ? QHostAddress() : addresses.first();
}

} // namespace

void Winsock::Impl::CloseUdp()
{
    if (udp) {
        QObject::disconnect(udp, nullptr, q, nullptr);
        udp->close();
        udp->deleteLater();
        udp = nullptr;
    }
    target.clear();
    targetPort = 0;
    unsentDatagrams.clear();
    arrivedDatagrams.clear();
    datagram.clear();
    sender.clear();
    senderPort = 0;
}

void Winsock::Impl::OpenUdp(quint16 port)
{
    auto* socket = new QUdpSocket(q);
    // Any address, both IPv6 and IPv4; no sharing, so a port in use is an error.
    if (!socket->bind(QHostAddress::Any, port, QAbstractSocket::DontShareAddress)) {
        const RaisedError failure = SocketFailureOf(socket->error());
        delete socket;
        throw failure;
    }
    udp = socket;
    udp->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption,
                         QVariant(kReceiveBufferBytes));
    QObject::connect(udp, &QIODevice::readyRead, q, [this] { ReadDatagrams(); });
    QObject::connect(udp, &QAbstractSocket::errorOccurred, q,
                     [this](QAbstractSocket::SocketError error) { Fail(SocketFailureOf(error)); });
    state = sckOpen;
}

void Winsock::Impl::Bind()
{
    RequireProtocol(sckUDPProtocol);
    RequireClosed();
    const quint16 port = RequireLocalPort();
    BeginSession();
    OpenUdp(port);
    replyToSender = true;
}

void Winsock::Impl::OpenUdpTowardsRemote()
{
    OpenUdp(RequireLocalPort());
    replyToSender = false;
    targetPort = quint16(remotePort);
    Resolve(remoteHost, [this](const QList<QHostAddress>& addresses) { AimUdp(addresses); });
}

void Winsock::Impl::AimUdp(const QList<QHostAddress>& addresses)
{
    target = PreferIPv4(addresses);
    if (target.isNull()) {
        unsentDatagrams.clear();
        Fail(SocketFailureOf(QAbstractSocket::HostNotFoundError));
        return;
    }
    for (const QByteArray& data : std::exchange(unsentDatagrams, {})) {
        if (!WriteDatagram(data, target, targetPort)) {
            Fail(SocketFailureOf(udp->error()));
            return;
        }
        Post([this] { emit q->SendComplete(); });
    }
}

bool Winsock::Impl::WriteDatagram(const QByteArray& data, const QHostAddress& to, quint16 port)
{
    // The caller reports a failure; the socket's own error signal would report it twice.
    const QSignalBlocker quiet(udp);
    return udp->writeDatagram(data, to, port) == data.size();
}

void Winsock::Impl::SendUdp(const QByteArray& data)
{
    if (state != sckOpen)
        throw RaisedError(ErrorNumber::NotConnected, "The socket is not open.");
    if (!replyToSender && target.isNull()) {
        unsentDatagrams.append(data); // goes out once the remote host is resolved
        return;
    }
    if (replyToSender && sender.isNull())
        throw RaisedError(ErrorNumber::DestinationRequired,
                          "No datagram has arrived yet, so there is no one to reply to.");
    const bool sent = replyToSender ? WriteDatagram(data, sender, senderPort)
                                    : WriteDatagram(data, target, targetPort);
    if (!sent)
        throw SocketFailureOf(udp->error());
    Post([this] { emit q->SendComplete(); });
}

// Qt re-arms a UDP socket's read notification only when a datagram is read, so every
// readyRead reads here; delivery is left to later turns.
void Winsock::Impl::ReadDatagrams()
{
    for (int n = 0; n < kDatagramsPerRead && udp->hasPendingDatagrams(); ++n) {
        QNetworkDatagram arrived = udp->receiveDatagram();
        if (!arrived.isValid())
            break;
        if (arrivedDatagrams.size() < kMostWaitingDatagrams)
            arrivedDatagrams.push_back(std::move(arrived));
    }
    if (!arrivedDatagrams.empty())
        ScheduleDrain();
}

void Winsock::Impl::ScheduleDrain()
{
    if (drainPosted)
        return;
    drainPosted = true;
    Post([this] {
        drainPosted = false;
        Drain();
    });
}

void Winsock::Impl::Drain()
{
    const quint64 current = session;
    for (int n = 0; n < kDatagramsPerTurn && !arrivedDatagrams.empty(); ++n) {
        const QNetworkDatagram next = arrivedDatagrams.front();
        arrivedDatagrams.pop_front();
        datagram = next.data();
        sender = next.senderAddress();
        senderPort = quint16(next.senderPort());
        Guarded([&] { emit q->DataArrival(datagram.size()); });
        if (session != current)
            return; // the handler closed the socket
    }
    if (!arrivedDatagrams.empty())
        ScheduleDrain();
}

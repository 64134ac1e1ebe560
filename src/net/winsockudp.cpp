#include "net/socketerrors.h"
#include "net/winsock_p.h"

#include <QSocketNotifier>
#include <QTimer>
#include <utility>

namespace {

constexpr int kLossReportMs = 1000;
// After a batch that emptied the system's queue, the next read waits this long, so a steady
// stream is taken a batch at a time rather than a wake-up per datagram; the system's receive
// buffer holds far more than arrives meanwhile.
constexpr int kShortBatchPauseMs = 1;

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
    if (udpReadable) {
        // It may be the notifier whose signal is running now.
        udpReadable->setEnabled(false);
        udpReadable->deleteLater();
        udpReadable = nullptr;
    }
    udp.reset();
    if (lossPacer)
        lossPacer->stop();
    if (readPacer)
        readPacer->stop();
    // Datagrams read and not yet shown, and losses not yet told, are told once more after the
    // close rather than vanish from the record.
    const qint64 untold = std::exchange(lossesUntold, 0) + std::exchange(undelivered, 0);
    if (untold > 0)
        Post([this, untold] { emit q->Lost(untold); });
    target.clear();
    targetPort = 0;
    unsentDatagrams.clear();
    datagram.clear();
}

void Winsock::Impl::OpenUdp(quint16 port)
{
    udp = std::make_unique<UdpSocket>(port);
    dropsSeen = udp->Drops();
    udpReadable = new QSocketNotifier(udp->Descriptor(), QSocketNotifier::Read, q);
    QObject::connect(udpReadable, &QSocketNotifier::activated, q, [this] { ReadDatagrams(); });
    if (!lossPacer) {
        lossPacer = new QTimer(q);
        lossPacer->setSingleShot(true);
        lossPacer->setInterval(kLossReportMs);
        QObject::connect(lossPacer, &QTimer::timeout, q, [this] { TellLosses(); });
        readPacer = new QTimer(q);
        readPacer->setSingleShot(true);
        readPacer->setTimerType(Qt::PreciseTimer);
        readPacer->setInterval(kShortBatchPauseMs);
        QObject::connect(readPacer, &QTimer::timeout, q, [this] {
            if (udpReadable)
                udpReadable->setEnabled(true);
        });
    }
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
    try {
        for (const QByteArray& data : std::exchange(unsentDatagrams, {})) {
            udp->SendTo(data, target, targetPort);
            CaptureDatagram(capture, *udp, target, targetPort, true, data);
            Post([this] { emit q->SendComplete(); });
        }
    } catch (const RaisedError& failure) {
        Fail(failure);
    }
}

void Winsock::Impl::SendUdp(const QByteArray& data)
{
    if (state != sckOpen)
        throw RaisedError(ErrorNumber::NotConnected, "The socket is not open.");
    if (!replyToSender && target.isNull()) {
        unsentDatagrams.append(data); // goes out once the remote host is resolved
        return;
    }
    if (replyToSender && !udp->HasSender())
        throw RaisedError(ErrorNumber::DestinationRequired,
                          "No datagram has arrived yet, so there is no one to reply to.");
    const QHostAddress to = replyToSender ? udp->LastSenderAddress() : target;
    const quint16 port = replyToSender ? udp->LastSenderPort() : targetPort;
    udp->SendTo(data, to, port);
    CaptureDatagram(capture, *udp, to, port, true, data);
    Post([this] { emit q->SendComplete(); });
}

// One batch per turn of the event loop, so timers and the window keep running under a flood;
// the rest waits in the system's receive buffer, and the socket is watched again once the batch
// is delivered. Delivering through a posted event also keeps timers at their normal priority.
void Winsock::Impl::ReadDatagrams()
{
    int count = 0;
    try {
        count = udp->ReadBatch();
    } catch (const RaisedError& failure) {
        udpReadable->setEnabled(false);
        Fail(failure);
        return;
    }
    CountLosses();
    if (count == 0)
        return;
    undelivered = count;
    udpReadable->setEnabled(false);
    Post([this, count] {
        const quint64 current = session;
        DeliverBatch(count);
        if (session == current)
            WatchAgain(count);
    });
}

void Winsock::Impl::WatchAgain(int lastBatch)
{
    if (lastBatch < UdpSocket::kBatch)
        readPacer->start();
    else
        udpReadable->setEnabled(true);
}

void Winsock::Impl::DeliverBatch(int count)
{
    const quint64 current = session;
    for (int i = 0; i < count; ++i) {
        datagram = udp->DatagramAt(i);
        udp->NoteSenderOf(i);
        CaptureArrival(capture, *udp, datagram);
        --undelivered;
        Guarded([&] { emit q->DataArrival(datagram.size()); });
        if (session != current)
            return; // the handler closed the socket
    }
}

void Winsock::Impl::CountLosses()
{
    const quint32 drops = udp->Drops();
    const quint32 fresh = drops - dropsSeen; // the system's counter wraps
    dropsSeen = drops;
    if (fresh == 0)
        return;
    lossesUntold += fresh;
    if (!lossPacer->isActive())
        TellLosses();
}

// While losses go on they are told once a second; the last of them a second after they stop.
void Winsock::Impl::TellLosses()
{
    if (lossesUntold == 0)
        return;
    const qint64 lost = std::exchange(lossesUntold, 0);
    Post([this, lost] { emit q->Lost(lost); });
    lossPacer->start();
}

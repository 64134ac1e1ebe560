#include "net/udpport.h"

#include "capture/capturesink.h"
#include "net/socketerrors.h"

#include <QElapsedTimer>
#include <QSocketNotifier>
#include <utility>

namespace {

constexpr int kLossReportMs = 1000;
// After a batch that emptied the system's queue, the next read waits this long, so a steady
// stream is taken a batch at a time rather than a wake-up per datagram; the system's receive
// buffer holds far more than arrives meanwhile.
constexpr int kShortBatchPauseMs = 1;
// Three milliseconds hold some 250 small datagrams; a batch of the largest may take longer alone.
constexpr qint64 kTurnMs = 3;
// A socket that could not be kept from taking more in (no loopback to aim it at) is read at a
// stop no further than some three times what its buffer holds, so a peer that never stops sending
// cannot hold the end of the program up.
constexpr qint64 kMostReadUnsealed = 1 << 20;

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

UdpPort::UdpPort(SocketSession& session) : session_(session)
{
    lossPacer_.setSingleShot(true);
    lossPacer_.setInterval(kLossReportMs);
    QObject::connect(&lossPacer_, &QTimer::timeout, &context_, [this] { TellLosses(); });
    readPacer_.setSingleShot(true);
    readPacer_.setTimerType(Qt::PreciseTimer);
    readPacer_.setInterval(kShortBatchPauseMs);
    QObject::connect(&readPacer_, &QTimer::timeout, &context_, [this] {
        if (readable_)
            readable_->setEnabled(true);
    });
}

UdpPort::~UdpPort()
{
    Close();
}

void UdpPort::Close()
{
    if (readable_) {
        // It may be the notifier whose signal is running now.
        readable_->setEnabled(false);
        readable_->deleteLater();
        readable_ = nullptr;
    }
    // After a stop's drain the program ends; anything counted now would be told after its end.
    if (socket_ && !drained_) {
        CountWhatStillWaits();
        CountLosses();
    }
    socket_.reset();
    lossPacer_.stop();
    readPacer_.stop();
    // Datagrams read and not yet shown, those still waiting in the system, and losses not yet
    // told, are told once more after the close rather than vanish from the record.
    const qint64 untold = std::exchange(lossesUntold_, 0) + std::exchange(undelivered_, 0);
    if (untold > 0)
        session_.Post([this, untold] { emit session_.Owner().Lost(untold); });
    target_.clear();
    targetPort_ = 0;
    unsent_.clear();
    datagram_.clear();
    untaken_ = false;
}

quint16 UdpPort::LocalPort() const
{
    return socket_ ? socket_->LocalPort() : 0;
}

void UdpPort::Open(quint16 port)
{
    socket_ = std::make_unique<UdpSocket>(port);
    dropsSeen_ = socket_->Drops();
    drained_ = false;
    readable_ =
        new QSocketNotifier(socket_->Descriptor(), QSocketNotifier::Read, &session_.Owner());
    QObject::connect(readable_, &QSocketNotifier::activated, &context_,
                     [this] { ReadDatagrams(); });
    session_.SetState(Winsock::sckOpen);
}

void UdpPort::Bind(quint16 port)
{
    Open(port);
    replyToSender_ = true;
}

void UdpPort::OpenTowards(quint16 localPort, const QString& host, quint16 port)
{
    Open(localPort);
    replyToSender_ = false;
    targetPort_ = port;
    session_.Resolve(host, [this](const SocketSession::Addresses& addresses) { Aim(addresses); });
}

void UdpPort::Aim(const SocketSession::Addresses& addresses)
{
    target_ = PreferIPv4(addresses);
    if (target_.isNull()) {
        unsent_.clear();
        session_.Fail(SocketFailureOf(QAbstractSocket::HostNotFoundError));
        return;
    }
    try {
        for (const QByteArray& data : std::exchange(unsent_, {}))
            SendTo(data, PeerAddress::Of(target_, targetPort_));
    } catch (const RaisedError& failure) {
        session_.Fail(failure);
    }
}

void UdpPort::Send(const QByteArray& data)
{
    if (session_.State() != Winsock::sckOpen)
        throw RaisedError(ErrorNumber::NotConnected, "The socket is not open.");
    if (!replyToSender_ && target_.isNull()) {
        unsent_.append(data); // goes out once the remote host is resolved
        return;
    }
    if (replyToSender_ && !socket_->HasSender())
        throw RaisedError(ErrorNumber::DestinationRequired,
                          "No datagram has arrived yet, so there is no one to reply to.");
    SendTo(data, replyToSender_ ? PeerAddress::Of(socket_->LastSender())
                                : PeerAddress::Of(target_, targetPort_));
}

void UdpPort::SendToPeer(const QByteArray& data, const PeerAddress& peer)
{
    if (session_.State() != Winsock::sckOpen)
        throw RaisedError(ErrorNumber::NotConnected, "The socket is not open.");
    SendTo(data, peer);
}

// Every datagram that leaves passes here, and completes once the system has taken it.
void UdpPort::SendTo(const QByteArray& data, const PeerAddress& to)
{
    socket_->SendTo(data, to);
    if (session_.Capture()) // the address in Qt's form costs an allocation
        CaptureDatagram(session_.Capture(), *socket_, to.Address(), to.Port(), true, data);
    session_.PostSendComplete();
}

PeerAddress UdpPort::LastSender() const
{
    return socket_ && socket_->HasSender() ? PeerAddress::Of(socket_->LastSender()) : PeerAddress();
}

QByteArray UdpPort::Take()
{
    // A copy that shares the buffer: unless the taker keeps it, the next arrival fills the
    // same buffer without an allocation of its own.
    return std::exchange(untaken_, false) ? datagram_ : QByteArray();
}

// A few milliseconds of batches per turn of the event loop, so timers and the window keep running
// under a flood; the rest waits in the system's receive buffer, and the socket is watched again
// once the turn is over. Delivering through a posted event also keeps timers at their normal
// priority.
void UdpPort::ReadDatagrams()
{
    const bool read = ReadBatch();
    CountLosses();
    if (!read)
        return;
    readable_->setEnabled(false);
    session_.Post([this] { DeliverTurn(); });
}

// While full batches keep coming, more are delivered in the same turn for a few milliseconds:
// each turn of the event loop costs as much as some dozens of lines.
void UdpPort::DeliverTurn()
{
    const quint64 current = session_.Current();
    QElapsedTimer turn;
    turn.start();
    for (;;) {
        const int count = batchSize_;
        DeliverBatch();
        if (session_.Current() != current)
            return; // the handler closed the socket
        // A socket that failed meanwhile is not read again here: its error event comes first.
        if (count < UdpSocket::kBatch || turn.elapsed() >= kTurnMs ||
            session_.State() != Winsock::sckOpen) {
            WatchAgain(count);
            return;
        }
        const bool read = ReadBatch();
        if (session_.State() != Winsock::sckOpen)
            return; // the socket failed, which its error event tells
        CountLosses();
        if (!read) {
            WatchAgain(0);
            return;
        }
    }
}

// False when nothing was waiting, or the socket failed.
bool UdpPort::ReadBatch()
{
    int count = 0;
    try {
        count = socket_->ReadBatch();
    } catch (const RaisedError& failure) {
        readable_->setEnabled(false);
        session_.Fail(failure);
        return false;
    }
    batchSize_ = count;
    undelivered_ = count;
    return count > 0;
}

void UdpPort::WatchAgain(int lastBatch)
{
    if (lastBatch < UdpSocket::kBatch)
        readPacer_.start();
    else
        readable_->setEnabled(true);
}

// Every datagram that arrives reaches the program here, in order, once.
void UdpPort::DeliverBatch()
{
    const quint64 current = session_.Current();
    while (undelivered_ > 0) {
        const int index = batchSize_ - undelivered_--;
        socket_->CopyDatagramAt(index, datagram_);
        untaken_ = true;
        socket_->NoteSenderOf(index);
        CaptureArrival(session_.Capture(), *socket_, datagram_);
        emit session_.Owner().DataArrival(datagram_.size());
        if (session_.Current() != current)
            return; // the handler closed the socket
    }
}

void UdpPort::Drain()
{
    if (!socket_)
        return;
    drained_ = true;
    const quint64 current = session_.Current();
    DeliverBatch();
    // Nothing more comes in, so what waits (at most the system's receive buffer, some 300,000
    // small datagrams) is shown to the end, however fast a peer goes on sending.
    const bool sealed = socket_->StopTakingIn();
    for (qint64 drained = 0;
         session_.Current() == current && session_.State() == Winsock::sckOpen &&
         (sealed || drained < kMostReadUnsealed) && ReadBatch();
         drained += batchSize_)
        DeliverBatch();
    if (session_.Current() != current)
        return; // closed by a handler, which told the rest
    // Losses are read once nothing more can come in, so none goes untold.
    CountWhatStillWaits();
    CountLosses();
    DeliverLosses();
}

// Datagrams that would go with the socket untold are read and counted as lost instead.
void UdpPort::CountWhatStillWaits()
{
    try {
        const bool sealed = socket_->StopTakingIn();
        for (int got = 0;
             (sealed || lossesUntold_ < kMostReadUnsealed) && (got = socket_->ReadBatch()) > 0;)
            lossesUntold_ += got;
    } catch (const RaisedError&) {
        // A socket failing now has nothing more to give.
    }
}

void UdpPort::CountLosses()
{
    const quint32 drops = socket_->Drops();
    const quint32 fresh = drops - dropsSeen_; // the system's counter wraps
    dropsSeen_ = drops;
    if (fresh == 0)
        return;
    lossesUntold_ += fresh;
    if (!lossPacer_.isActive())
        TellLosses();
}

// While losses go on they are told once a second; the last of them a second after they stop.
void UdpPort::TellLosses()
{
    if (lossesUntold_ == 0)
        return;
    // Counted when delivered, so a drain or a close that comes first tells them instead.
    session_.Post([this] { DeliverLosses(); });
    lossPacer_.start();
}

void UdpPort::DeliverLosses()
{
    if (const qint64 lost = std::exchange(lossesUntold_, 0); lost > 0)
        emit session_.Owner().Lost(lost);
}

#include "net/tcpstream.h"

#include "capture/capturesink.h"
#include "net/peerreset.h"
#include "net/socketerrors.h"

#include <QTcpSocket>
#include <QTimer>
#include <utility>

namespace {

// Longest a closed connection may keep handing over what was sent before it goes.
constexpr int kLingerMs = 30000;

constexpr qint64 kMostBytesPerArrival = Winsock::kMostBytesPerArrival;
// A fast peer's data comes a few arrivals per turn of the event loop, so showing it is not held
// up by repainting the window after every arrival.
constexpr int kArrivalsPerTurn = 8;

void Retire(QTcpSocket* socket, QObject* context)
{
    QObject::disconnect(socket, nullptr, context, nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        return;
    }
    socket->abort();
    socket->deleteLater();
}

} // namespace

TcpStream::TcpStream(SocketSession& session) : session_(session) {}

TcpStream::~TcpStream()
{
    Close();
}

void TcpStream::Adopt(QTcpSocket* socket)
{
    socket_ = socket;
    peer_ = PeerAddress::Of(socket_->peerAddress(), socket_->peerPort());
    // Only a capture tells a reset from a close.
    if (session_.Capture())
        resetWatch_ = WatchForReset(socket_->socketDescriptor());
    socket_->setReadBufferSize(kArrivalsPerTurn * kMostBytesPerArrival);
    QObject::connect(socket_, &QAbstractSocket::errorOccurred, &context_,
                     [this](QAbstractSocket::SocketError error) { OnError(error); });
    QObject::connect(socket_, &QIODevice::readyRead, &context_, [this] { Read(); });
    QObject::connect(socket_, &QIODevice::bytesWritten, &context_, [this](qint64 count) {
        bytesHandedOver_ += count;
        CompleteSends();
    });
    QObject::connect(socket_, &QAbstractSocket::disconnected, &context_, [this] {
        if (session_.State() == Winsock::sckConnected)
            PeerClosed();
    });
    Read();
    if (socket_->state() != QAbstractSocket::ConnectedState)
        PeerClosed();
}

void TcpStream::Close()
{
    CaptureTcpClosedHere(session_.Capture());
    EndResetWatch(resetWatch_); // before the socket goes, so its close is not held back
    if (socket_)
        Retire(socket_, &context_);
    socket_ = nullptr;
    received_.clear();
    arrivalPosted_ = false;
    closePending_ = false;
    bytesQueued_ = 0;
    bytesHandedOver_ = 0;
    sendEnds_.clear();
}

quint16 TcpStream::LocalPort() const
{
    return socket_ ? socket_->localPort() : 0;
}

// The peer's close (or reset) is reported by the disconnected signal as a close.
void TcpStream::OnError(QAbstractSocket::SocketError error)
{
    if (session_.State() == Winsock::sckConnected &&
        error != QAbstractSocket::RemoteHostClosedError) {
        CaptureTcpClosedByPeer(session_.Capture(), true);
        session_.Fail(SocketFailureOf(error));
    }
}

void TcpStream::PeerClosed()
{
    session_.SetState(Winsock::sckClosing);
    closePending_ = true;
    const bool reset = EndResetWatch(resetWatch_);
    CaptureTcpClosedByPeer(session_.Capture(), reset);
    PostCloseAfterData();
}

// The peer's close is announced once all it sent before has been.
void TcpStream::PostCloseAfterData()
{
    if (!closePending_ || arrivalPosted_ || (socket_ && socket_->bytesAvailable() > 0))
        return;
    closePending_ = false;
    session_.Post([this] { emit session_.Owner().CloseEvent(); });
}

void TcpStream::Read()
{
    FillReceived();
    ScheduleArrival();
}

void TcpStream::FillReceived()
{
    const qint64 room = kMostBytesPerArrival - received_.size();
    if (socket_ && room > 0)
        received_ += socket_->read(room);
}

void TcpStream::ScheduleArrival()
{
    if (arrivalPosted_ || received_.isEmpty())
        return;
    arrivalPosted_ = true;
    session_.Post([this] {
        arrivalPosted_ = false;
        DeliverArrivals();
    });
}

void TcpStream::DeliverArrivals()
{
    const quint64 current = session_.Current();
    for (int n = 0; n < kArrivalsPerTurn && !received_.isEmpty(); ++n) {
        const qint64 takenBefore = bytesTaken_;
        emit session_.Owner().DataArrival(received_.size());
        if (session_.Current() != current)
            return; // the handler closed the control
        if (bytesTaken_ == takenBefore)
            break; // left for a later GetData, which hands over what follows as well
    }
    PostCloseAfterData();
}

QByteArray TcpStream::Take()
{
    QByteArray taken = std::exchange(received_, {});
    bytesTaken_ += taken.size();
    CaptureTcpData(session_.Capture(), false, taken);
    FillReceived();
    ScheduleArrival();
    return taken;
}

void TcpStream::CompleteSends()
{
    while (!sendEnds_.empty() && sendEnds_.front() <= bytesHandedOver_) {
        sendEnds_.pop_front();
        session_.PostSendComplete();
    }
}

void TcpStream::Send(const QByteArray& data, bool now)
{
    if (session_.State() != Winsock::sckConnected)
        throw RaisedError(ErrorNumber::NotConnected, "The socket is not connected.");
    if (socket_->write(data) != data.size())
        throw SocketFailureOf(socket_->error());
    bytesQueued_ += data.size();
    sendEnds_.push_back(bytesQueued_);
    // By the next turn of the event loop the close of a peer that has shut only its sending side
    // may have been read, and Qt drops what is unsent with it.
    if (now) {
        socket_->flush();
        if (session_.State() != Winsock::sckConnected)
            throw RaisedError(ErrorNumber::NotConnected, "The socket is not connected.");
    }
    CaptureTcpData(session_.Capture(), true, data);
    CompleteSends();
}

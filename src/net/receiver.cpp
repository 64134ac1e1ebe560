#include "net/receiver.h"

#include "convert/conversions.h"
#include "convert/numeric.h"
#include "net/guard.h"
#include "net/lostline.h"
#include "net/portnumber.h"
#include "net/receivedline.h"

#include <QMetaMethod>

Receiver::Receiver(ReceiverView& view, QObject* parent) : QObject(parent), view_(view)
{
    auto guarded = [this](auto handler) {
        return GuardedSlot(this, handler, [this](const QString& line) { ReportFailure(line); });
    };
    arrival_.socket = &Winsock2;
    connect(&Winsock2, &Winsock::ConnectionRequest, this,
            guarded(&Receiver::Winsock2_ConnectionRequest));
    connect(&Winsock2, &Winsock::CloseEvent, this, guarded(&Receiver::Winsock2_Close));
    connect(&Winsock2, &Winsock::Error, this, guarded(&Receiver::Winsock2_Error));
    connect(&Winsock2, &Winsock::DataArrival, this, guarded(&Receiver::Winsock2_DataArrival));
    connect(&Winsock2, &Winsock::Lost, this, guarded(&Receiver::Winsock2_Lost));
}

qint32 Receiver::ListeningPort() const
{
    return PortNumberOf(NumericValue(view_.RcvPortText()));
}

void Receiver::ReportFailure(const QString& text)
{
    Report(text);
    emit Failed();
}

bool Receiver::ClosedForGood() const
{
    return opened_ && Winsock2.State() == Winsock::sckClosed;
}

void Receiver::cmdRcvOpen_Click()
{
    view_.SetRcvOpenEnabled(false);
    opened_ = true;
    const qint32 port = ListeningPort();
    Winsock2.SetLocalPort(port);
    if (udpMode_) {
        Winsock2.SetProtocol(Winsock::sckUDPProtocol);
        Winsock2.Bind();
    } else {
        Winsock2.SetProtocol(Winsock::sckTCPProtocol);
        Winsock2.Listen();
    }
}

void Receiver::Winsock2_ConnectionRequest(qint32 requestId)
{
    if (Winsock2.State() != Winsock::sckClosed)
        Winsock2.Close();
    Report(QStringLiteral("TCP/IP:requestID:") + QString::number(requestId));
    try {
        Winsock2.Accept(requestId);
        emit PeerConnected(Winsock2.LastPeer());
    } catch (const RaisedError& error) {
        Report(ErrLine(error));
        RefuseWaitingPeers();
        emit Failed();
    }
}

void Receiver::Winsock2_Close()
{
    Report(QStringLiteral("Socket2 Close."));
    emit PeerLeft();
    // Closed before the port is read, so a port text that cannot be used leaves the receiver
    // closed rather than holding on to the finished connection.
    Winsock2.Close();
    Winsock2.SetLocalPort(ListeningPort());
    Winsock2.Listen();
}

void Receiver::EndConnection()
{
    if (Winsock2.State() != Winsock::sckConnected)
        return;
    Winsock2.Close();
    emit PeerLeft();
    // Called from a timer, not a socket event: a port that cannot be listened on again is told
    // here, as after a peer's close.
    Guarded(
        [this] {
            Winsock2.SetLocalPort(ListeningPort());
            Winsock2.Listen();
        },
        [this](const QString& line) { ReportFailure(line); });
}

void Receiver::Winsock2_Error()
{
    Report(QStringLiteral("Error Event Occured."));
    CloseListener();
    emit PeerLeft();
    emit Failed();
}

void Receiver::CloseListener()
{
    try {
        Winsock2.Close();
    } catch (const RaisedError&) {
        // The receiver is closed for the rest of the run either way.
    }
    RefuseWaitingPeers();
}

void Receiver::Winsock2_DataArrival()
{
    arrival_.bytes = Winsock2.GetData();
    PutReceivedLine(arrivalLine_, arrival_.bytes, view_.HexDisplay());
    Report(arrivalLine_);
    if (arrivedWatchers_ > 0) {
        arrival_.peer = Winsock2.LastPeer();
        emit Arrived(arrival_);
    }
    // Let go of the bytes, so the socket fills the same buffer with the next arrival.
    arrival_.bytes.clear();
}

// Asking Qt at each arrival whether a signal is connected costs a twentieth of a flood's line;
// counted here instead. A disconnection of everything at once (no signal named) leaves the count
// as it is: looking a peer up for nobody is only slower.
void Receiver::connectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&Receiver::Arrived))
        ++arrivedWatchers_;
}

void Receiver::disconnectNotify(const QMetaMethod& signal)
{
    if (signal == QMetaMethod::fromSignal(&Receiver::Arrived) && arrivedWatchers_ > 0)
        --arrivedWatchers_;
}

void Receiver::Winsock2_Lost(qint64 count)
{
    Report(LostLine(count));
}

void Receiver::cmdRcvPortSend_Click()
{
    const QString trimmed = TrimSpaces(view_.ReplyText());
    if (trimmed.isEmpty())
        return;
    DoSendEther2(Winsock2, trimmed);
}

void Receiver::DoSendEther2(Winsock& Winsock2, const QString& iSend_Data)
{
    Report(QStringLiteral("Send Command:[") + iSend_Data + QLatin1Char(']'));
    Winsock2.SendData(iSend_Data);
}

void Receiver::CloseIfOpen()
{
    if (Winsock2.State() != Winsock::sckClosed)
        Winsock2.Close();
    RefuseWaitingPeers();
}

// Peers that connected while another was served wait for the receiver to listen again; when it
// never will, they are reset and the record says how many.
void Receiver::RefuseWaitingPeers()
{
    const int refused = Winsock2.RefuseKeptRequests();
    if (refused > 0)
        Report(QStringLiteral("REFUSED[") + QString::number(refused) + QLatin1Char(']'));
}

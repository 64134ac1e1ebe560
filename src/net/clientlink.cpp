#include "net/clientlink.h"

#include "convert/conversions.h"
#include "convert/numeric.h"
#include "net/guard.h"
#include "net/lostline.h"
#include "net/portnumber.h"
#include "net/receivedline.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <cmath>
#include <limits>

namespace {

constexpr double kCounterWrap = 10000;

QString DataLine(const char* tag, const QString& shown)
{
    return QLatin1String(tag) + shown + QLatin1Char(']');
}

} // namespace

ClientLink::ClientLink(ClientView& view, QObject* parent) : QObject(parent), view_(view)
{
    arrival_.socket = &Winsock1;
    auto guard = [this](auto handler) {
        return GuardedSlot(this, handler, [this](const QString& line) { Report(line); });
    };
    connect(&Winsock1, &Winsock::ConnectEvent, this, guard(&ClientLink::Winsock1_Connect));
    connect(&Winsock1, &Winsock::Error, this, guard(&ClientLink::Winsock1_Error));
    connect(&Winsock1, &Winsock::SendComplete, this, guard(&ClientLink::Winsock1_SendComplete));
    connect(&Winsock1, &Winsock::CloseEvent, this, guard(&ClientLink::Winsock1_Close));
    connect(&Winsock1, &Winsock::DataArrival, this, guard(&ClientLink::Winsock1_DataArrival));
    connect(&Winsock1, &Winsock::Lost, this, guard(&ClientLink::Winsock1_Lost));
}

void ClientLink::LoadDefaults(bool udpMode)
{
    UdpMode = udpMode;
    ReconnectTicks = 0;
    ContTicks = 0;
    SendCount = 0;
    Connected = 0;
    InitClientDefaults();
}

void ClientLink::InitClientDefaults()
{
    SendStarted = 0;
    Connected = 0;
    SendDone = 1;
    TargetHost = QStringLiteral("localhost");
}

void ClientLink::tmrCONNECT_Timer()
{
    if (SendStarted == 0)
        return;
    ++ReconnectTicks;
    if (ReconnectTicks >= ReconnectInterval) {
        ReconnectTicks = 0;
        if (Connected == 0)
            ConnectClient();
    }
}

void ClientLink::ConnectClient()
{
    // A failure before the connection request ends the tick's handler, which reports it; the
    // next check tries again.
    if (Winsock1.State() != Winsock::sckClosed)
        CloseClient();
    Winsock1.SetLocalPort(0);
    Winsock1.SetProtocol(UdpMode ? Winsock::sckUDPProtocol : Winsock::sckTCPProtocol);
    TargetHost = TrimSpaces(view_.HostText());
    const QString portText = TrimSpaces(view_.PortText());
    Report(QStringLiteral("Start Connect:IP:") + TargetHost + QStringLiteral(" Port#:") + portText +
           QStringLiteral(": "));
    ConnectRequest(portText);
}

void ClientLink::ConnectRequest(const QString& portText)
{
    try {
        if (UdpMode) {
            Winsock1.SetRemotePort(PortNumberOf(NumericValue(portText)));
            Winsock1.SetRemoteHost(TargetHost);
            Connected = 1;
        } else {
            Winsock1.Connect(TargetHost, NumericValue(portText));
        }
    } catch (const RaisedError& error) {
        Report(QStringLiteral("Connect Err:IP:") + TargetHost + QStringLiteral(" Port#:") +
               portText + QStringLiteral(": ") + error.description());
    }
}

void ClientLink::CloseClient()
{
    try {
        Winsock1.Close();
    } catch (const RaisedError&) {
        // A close that fails leaves nothing to report: the link counts as down either way.
    }
    Connected = 0;
    // Nothing will complete on a closed link, so a send waiting for completion must go on.
    SendDone = 1;
}

void ClientLink::DoSendEtherHex(Winsock& socket, const QString& payload)
{
    if (HexByteCount(payload) < 1)
        return;
    const QByteArray bytes = HexToBytes(payload);
    SendDone = 0;
    Report(DataLine("SND[", view_.HexDisplay() ? payload : BytesToText(bytes)));
    if (socket.State() == Winsock::sckClosed) {
        socket.Close();
        socket.Connect();
    }
    try {
        socket.SendData(bytes);
        SendCount = std::fmod(RoundHalfEven(SendCount + 1), kCounterWrap);
        view_.SetCountCaption(QString::number(static_cast<qint64>(SendCount)));
    } catch (const RaisedError& error) {
        CloseClient();
        Report(QStringLiteral("Send Err: ") + error.description());
    }
}

void ClientLink::DoSendEther(Winsock& socket, const QString& text)
{
    DoSendEtherHex(socket, TextToHex(text));
}

void ClientLink::WaitForSendDone()
{
    // Sleeps until the next event rather than spinning; the link going down also sets SendDone.
    while (SendDone != 1)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void ClientLink::cmdOneShot_Click()
{
    SendStarted = 1;
    view_.SetSendButtonEnabled(false);
    if (Connected != 0) {
        // Caught here rather than by the click's own guard, so the button always comes back.
        Guarded(
            [this] {
                if (!UdpMode)
                    WaitForSendDone();
                const QString SendText = view_.PayloadText();
                DoSendEtherHex(Winsock1, SendText);
            },
            [this](const QString& line) { Report(line); });
    }
    view_.SetSendButtonEnabled(true);
}

void ClientLink::cmdCont_Click()
{
    const double interval = NumericValue(view_.IntervalText());
    const std::optional<qint32> rounded = RoundToInt32(interval);
    if (rounded)
        ContInterval = *rounded;
    else
        ContInterval = interval > 0 ? std::numeric_limits<qint32>::max() : 1;
    if (ContInterval < 1)
        ContInterval = 1;
    view_.SetContinuousSending(true);
}

void ClientLink::cmdStopCont_Click()
{
    view_.SetContinuousSending(false);
}

void ClientLink::Timer1_Timer()
{
    ++ContTicks;
    if (ContTicks >= ContInterval) {
        ContTicks = 0;
        if (view_.SendButtonEnabled())
            cmdOneShot_Click();
    }
}

void ClientLink::Winsock1_Connect()
{
    Report(QStringLiteral("Connected."));
    Connected = 1;
}

void ClientLink::Winsock1_Error()
{
    Report(QStringLiteral("Error Event Occured."));
    // A link that reported an error carries nothing more: counted as down, it releases a send
    // still waiting for its completion and is reopened by the next check.
    CloseClient();
}

void ClientLink::Winsock1_SendComplete()
{
    Report(QStringLiteral("Sended."));
    SendDone = 1;
}

void ClientLink::Winsock1_Close()
{
    Report(QStringLiteral("Socket Close."));
    Connected = 0;
    SendDone = 1;
}

void ClientLink::Winsock1_DataArrival()
{
    arrival_.bytes = Winsock1.GetData();
    PutReceivedLine(arrivalLine_, arrival_.bytes, view_.HexDisplay());
    Report(arrivalLine_);
    static const QMetaMethod arrived = QMetaMethod::fromSignal(&ClientLink::Arrived);
    if (isSignalConnected(arrived)) {
        arrival_.peer = Winsock1.LastPeer();
        emit Arrived(arrival_);
    }
    // Let go of the bytes, so the socket fills the same buffer with the next arrival.
    arrival_.bytes.clear();
}

void ClientLink::Winsock1_Lost(qint64 count)
{
    Report(LostLine(count));
}

#include "net/winsock.h"

#include "capture/capturesink.h"
#include "convert/codepage.h"
#include "net/portnumber.h"
#include "net/socketsession.h"
#include "net/tcpconnector.h"
#include "net/tcplistener.h"
#include "net/tcpstream.h"
#include "net/udpport.h"

#include <QMetaMethod>
#include <QTcpSocket>

namespace {

constexpr qint32 kLastPort = 65535;

quint16 RemotePortOf(double port)
{
    const qint32 whole = PortNumberOf(port);
    if (whole < 1 || whole > kLastPort)
        throw RaisedError(ErrorNumber::InvalidArgument,
                          "The remote port must be a whole number from 1 to 65535.");
    return quint16(whole);
}

void RequireHost(const QString& host)
{
    if (host.trimmed().isEmpty())
        throw RaisedError(ErrorNumber::InvalidArgument, "The remote host name is empty.");
}

} // namespace

// The control's properties and its four roles; one of them at most is in use at a time.
class Winsock::Impl {
public:
    explicit Impl(Winsock& owner)
        : session(owner), connector(session, [this](QTcpSocket* socket) { Connected(socket); }),
          listener(session), stream(session), udp(session)
    {
    }

    void CloseAll();
    void StartConnect();
    void Connected(QTcpSocket* socket);
    void RequireClosed() const;
    void RequireProtocol(int wanted) const;
    quint16 RequireLocalPort() const;

    int protocol = sckTCPProtocol;
    qint32 localPort = 0;
    QString remoteHost;
    qint32 remotePort = 0;

    SocketSession session;
    TcpConnector connector;
    TcpListener listener;
    TcpStream stream;
    UdpPort udp;
};

void Winsock::Impl::CloseAll()
{
    session.Begin();
    session.AbortLookup();
    connector.Stop();
    stream.Close();
    listener.Stop();
    udp.Close();
    session.SetState(sckClosed);
}

void Winsock::Impl::StartConnect()
{
    connector.Start(remoteHost, quint16(remotePort));
}

void Winsock::Impl::Connected(QTcpSocket* socket)
{
    session.SetState(sckConnected);
    session.Post([this] { emit session.Owner().ConnectEvent(); });
    CaptureTcpOpened(session.Capture(), socket, true);
    stream.Adopt(socket);
}

void Winsock::Impl::RequireClosed() const
{
    if (session.State() != sckClosed)
        throw RaisedError(ErrorNumber::WrongState, "The socket is already in use; close it first.");
}

void Winsock::Impl::RequireProtocol(int wanted) const
{
    if (protocol == wanted)
        return;
    throw RaisedError(ErrorNumber::WrongProtocol, wanted == sckTCPProtocol
                                                      ? "This operation needs the TCP protocol."
                                                      : "This operation needs the UDP protocol.");
}

quint16 Winsock::Impl::RequireLocalPort() const
{
    if (localPort < 0 || localPort > kLastPort)
        throw RaisedError(ErrorNumber::InvalidArgument,
                          "The local port must be a whole number from 0 to 65535.");
    return quint16(localPort);
}

Winsock::Winsock(QObject* parent) : QObject(parent), d(std::make_unique<Impl>(*this)) {}

Winsock::~Winsock()
{
    d->CloseAll();
}

int Winsock::Protocol() const
{
    return d->protocol;
}

void Winsock::SetProtocol(int protocol)
{
    if (protocol != sckTCPProtocol && protocol != sckUDPProtocol)
        throw RaisedError(ErrorNumber::InvalidArgument, "The protocol must be 0 (TCP) or 1 (UDP).");
    if (protocol != d->protocol)
        d->RequireClosed();
    d->protocol = protocol;
}

// While open, the port actually in use (the system's choice when 0 was asked for).
qint32 Winsock::LocalPort() const
{
    for (const quint16 inUse : {d->listener.LocalPort(), d->udp.LocalPort(), d->stream.LocalPort(),
                                d->connector.LocalPort()}) {
        if (inUse != 0)
            return inUse;
    }
    return d->localPort;
}

void Winsock::SetLocalPort(qint32 port)
{
    d->localPort = port;
}
QString Winsock::RemoteHost() const
{
    return d->remoteHost;
}
void Winsock::SetRemoteHost(const QString& host)
{
    RequireHost(host);
    d->remoteHost = host;
    // A UDP send opens the socket and goes out at once: the name must be known by then, so a
    // send that fails is told at the call, as it is for an address.
    if (d->protocol == sckUDPProtocol)
        d->session.LookAhead(host);
}
qint32 Winsock::RemotePort() const
{
    return d->remotePort;
}
void Winsock::SetRemotePort(qint32 port)
{
    d->remotePort = RemotePortOf(port);
}
int Winsock::State() const
{
    return d->session.State();
}

void Winsock::Connect(const QString& host, double port)
{
    d->RequireProtocol(sckTCPProtocol);
    d->RequireClosed();
    RequireHost(host);
    const quint16 checkedPort = RemotePortOf(port);
    d->session.Begin();
    d->remoteHost = host;
    d->remotePort = checkedPort;
    d->StartConnect();
}

void Winsock::Connect()
{
    if (d->session.State() != sckClosed) {
        // The open connection carries on; the failed call is only reported.
        d->session.Post([this] {
            emit Error(ErrorNumber::WrongState, "The socket is already in use; close it first.");
        });
        return;
    }
    d->session.Begin();
    try {
        RequireHost(d->remoteHost);
        RemotePortOf(d->remotePort);
        if (d->protocol == sckTCPProtocol)
            d->StartConnect();
        else
            d->udp.OpenTowards(d->RequireLocalPort(), d->remoteHost, quint16(d->remotePort));
    } catch (const RaisedError& failure) {
        d->session.Fail(failure);
    }
}

void Winsock::Listen()
{
    d->RequireProtocol(sckTCPProtocol);
    d->RequireClosed();
    d->listener.Listen(d->RequireLocalPort());
}

void Winsock::Bind()
{
    d->RequireProtocol(sckUDPProtocol);
    d->RequireClosed();
    const quint16 port = d->RequireLocalPort();
    d->session.Begin();
    d->udp.Bind(port);
}

void Winsock::Accept(qint32 requestId)
{
    d->RequireProtocol(sckTCPProtocol);
    d->RequireClosed();
    QTcpSocket* request = d->listener.TakeOffered(requestId);
    if (!request)
        throw RaisedError(ErrorNumber::InvalidArgument,
                          "There is no pending connection request with that id.");
    d->session.Begin();
    d->session.SetState(sckConnected);
    CaptureTcpOpened(d->session.Capture(), request, false);
    d->stream.Adopt(request);
}

void Winsock::SendData(const QByteArray& data)
{
    if (d->protocol == sckTCPProtocol)
        d->stream.Send(data);
    else
        d->udp.Send(data);
}

void Winsock::SendDataNow(const QByteArray& data)
{
    if (d->protocol == sckTCPProtocol)
        d->stream.Send(data, true);
    else
        d->udp.Send(data);
}

void Winsock::SendDataTo(const QByteArray& data, const PeerAddress& peer)
{
    d->RequireProtocol(sckUDPProtocol);
    d->udp.SendToPeer(data, peer);
}

void Winsock::SendData(const QString& text)
{
    SendData(TextToAnsiBytes(text));
}

QByteArray Winsock::GetData()
{
    return d->protocol == sckTCPProtocol ? d->stream.Take() : d->udp.Take();
}

PeerAddress Winsock::LastPeer() const
{
    return d->protocol == sckTCPProtocol ? d->stream.Peer() : d->udp.LastSender();
}

void Winsock::Close()
{
    d->CloseAll();
}

int Winsock::RefuseKeptRequests()
{
    return d->listener.RefuseKept();
}

void Winsock::Drain()
{
    d->udp.Drain();
}

void Winsock::SetCapture(CaptureSink* sink)
{
    d->session.SetCapture(sink);
}

bool Winsock::SendCompleteWanted() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&Winsock::SendComplete);
    return isSignalConnected(signal);
}

#include "net/winsock.h"

#include "convert/codepage.h"
#include "net/portnumber.h"
#include "net/winsock_p.h"

#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtDebug>
#include <utility>

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

// "localhost" always means this machine, but the hosts file may list only one of its loopback
// addresses while the peer listens on the other, so both are tried.
QList<QHostAddress> WithLoopbacks(const QString& host, QList<QHostAddress> addresses)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return addresses;
    for (const auto loopback : {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}) {
        if (!addresses.contains(QHostAddress(loopback)))
            addresses.append(QHostAddress(loopback));
    }
    return addresses;
}

// Names in the reserved "invalid" domain never resolve; they are refused here rather than handed
// to the system's resolver, which might ask a name server over the network.
bool IsReservedInvalidName(const QString& host)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name == QLatin1String("invalid") || name.endsWith(QLatin1String(".invalid"));
}

} // namespace

void Winsock::Impl::Guarded(const std::function<void()>& delivery)
{
    try {
        delivery();
    } catch (const std::exception& failure) {
        qWarning("A socket event handler failed: %s", failure.what());
    } catch (...) {
        qWarning("A socket event handler failed.");
    }
}

void Winsock::Impl::BeginSession()
{
    ++session;
    arrivalPosted = false;
}

void Winsock::Impl::CloseAll()
{
    BeginSession();
    if (lookupId != -1) {
        QHostInfo::abortHostLookup(lookupId);
        lookupId = -1;
    }
    CloseTcp();
    CloseUdp();
    state = sckClosed;
}

void Winsock::Impl::Post(std::function<void()> delivery)
{
    const quint64 postedIn = session;
    QMetaObject::invokeMethod(
        q,
        [this, postedIn, delivery = std::move(delivery)] {
            if (postedIn == session)
                Guarded(delivery);
        },
        Qt::QueuedConnection);
}

void Winsock::Impl::Fail(const RaisedError& error)
{
    state = sckError;
    Post([this, error] { emit q->Error(error.number(), error.description()); });
}

void Winsock::Impl::Resolve(const QString& host,
                            std::function<void(const QList<QHostAddress>&)> done)
{
    QHostAddress literal;
    if (literal.setAddress(host)) {
        done({literal});
        return;
    }
    if (IsReservedInvalidName(host)) {
        Post([done] { done({}); }); // answered later, as a failed lookup would be
        return;
    }
    const quint64 askedIn = session;
    lookupId = QHostInfo::lookupHost(host, q, [this, askedIn, host, done](const QHostInfo& info) {
        if (askedIn != session)
            return;
        lookupId = -1;
        Guarded([&] { done(WithLoopbacks(host, info.addresses())); });
    });
}

void Winsock::Impl::RequireClosed() const
{
    if (state != sckClosed)
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

Winsock::Winsock(QObject* parent) : QObject(parent), d(new Impl(this)) {}

Winsock::~Winsock()
{
    d->CloseAll();
    delete d;
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
    quint16 inUse = 0;
    if (d->server)
        inUse = d->server->serverPort();
    else if (d->udp)
        inUse = d->udp->LocalPort();
    else if (d->tcp)
        inUse = d->tcp->localPort();
    return inUse != 0 ? inUse : d->localPort;
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
    return d->state;
}

void Winsock::Connect(const QString& host, double port)
{
    d->RequireProtocol(sckTCPProtocol);
    d->RequireClosed();
    RequireHost(host);
    const quint16 checkedPort = RemotePortOf(port);
    d->BeginSession();
    d->remoteHost = host;
    d->remotePort = checkedPort;
    d->StartTcpConnect();
}

void Winsock::Connect()
{
    if (d->state != sckClosed) {
        // The open connection carries on; the failed call is only reported.
        d->Post([this] {
            emit Error(ErrorNumber::WrongState, "The socket is already in use; close it first.");
        });
        return;
    }
    d->BeginSession();
    try {
        RequireHost(d->remoteHost);
        RemotePortOf(d->remotePort);
        if (d->protocol == sckTCPProtocol)
            d->StartTcpConnect();
        else
            d->OpenUdpTowardsRemote();
    } catch (const RaisedError& failure) {
        d->Fail(failure);
    }
}

void Winsock::Listen()
{
    d->Listen();
}
void Winsock::Bind()
{
    d->Bind();
}
void Winsock::Accept(qint32 requestId)
{
    d->Accept(requestId);
}

void Winsock::SendData(const QByteArray& data)
{
    if (d->protocol == sckTCPProtocol)
        d->SendTcp(data);
    else
        d->SendUdp(data);
}

void Winsock::SendData(const QString& text)
{
    SendData(TextToAnsiBytes(text));
}

QByteArray Winsock::GetData()
{
    return d->protocol == sckTCPProtocol ? d->TakeReceived() : std::exchange(d->datagram, {});
}

void Winsock::Close()
{
    d->CloseAll();
}

int Winsock::RefuseKeptRequests()
{
    return d->RefuseKeptRequests();
}

void Winsock::SetCapture(CaptureSink* sink)
{
    d->capture = sink;
}

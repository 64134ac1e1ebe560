#include "net/handshakestop.h"
#include "net/socketerrors.h"
#include "net/winsock_p.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <limits>
#include <utility>

namespace {

// Longest a closed connection may keep handing over what was sent before it goes.
constexpr int kLingerMs = 30000;

constexpr qint64 kMostBytesPerArrival = Winsock::kMostBytesPerArrival;
// A fast peer's data comes a few arrivals per turn of the event loop, so showing it is not held
// up by repainting the window after every arrival.
constexpr int kArrivalsPerTurn = 8;
// Connections the system completes while the program has not yet taken them.
constexpr int kListenBacklog = 50;
// Kept when listening stops: the backlog, and the handshakes already answered then.
constexpr std::size_t kMostKept = 2 * kListenBacklog;
// A handshake the listener has answered completes one round trip later: at once on loopback,
// within a few milliseconds on a local network.
constexpr int kHandshakeWaitMs = 5;

void Retire(QTcpSocket* socket, QObject* owner)
{
    QObject::disconnect(socket, nullptr, owner, nullptr);
    if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0) {
        QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kLingerMs, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        return;
    }
    socket->abort();
    socket->deleteLater();
}

void Refuse(QTcpSocket* request)
{
    request->abort();
    request->deleteLater();
}

} // namespace

void Winsock::Impl::CloseTcp()
{
    CaptureTcpClosedHere(capture);
    if (tcp)
        Retire(tcp, q);
    tcp = nullptr;
    if (server) {
        QObject::disconnect(server, nullptr, q, nullptr);
        KeepCompleted();
        server->close();
        server->deleteLater();
        server = nullptr;
    }
    // Requests already offered stay: a ConnectionRequest handler closes, then accepts.
    untriedAddresses.clear();
    received.clear();
    closePending = false;
    bytesQueued = 0;
    bytesHandedOver = 0;
    sendEnds.clear();
}

void Winsock::Impl::StartTcpConnect()
{
    state = sckResolvingHost;
    lastConnectFailure = SocketFailureOf(QAbstractSocket::HostNotFoundError);
    Resolve(remoteHost, [this](const QList<QHostAddress>& addresses) {
        untriedAddresses = addresses;
        state = sckHostResolved;
        TryNextAddress();
    });
}

void Winsock::Impl::TryNextAddress()
{
    if (tcp)
        Retire(tcp, q);
    tcp = nullptr;
    if (untriedAddresses.isEmpty()) {
        Fail(lastConnectFailure);
        return;
    }
    tcp = new QTcpSocket(q);
    WireTcp(tcp);
    state = sckConnecting;
    tcp->connectToHost(untriedAddresses.takeFirst(), quint16(remotePort));
}

void Winsock::Impl::WireTcp(QTcpSocket* socket)
{
    socket->setReadBufferSize(kArrivalsPerTurn * kMostBytesPerArrival);
    QObject::connect(socket, &QAbstractSocket::connected, q, [this] {
        state = sckConnected;
        CaptureTcpOpened(capture, tcp, true);
        Post([this] { emit q->ConnectEvent(); });
    });
    QObject::connect(socket, &QAbstractSocket::errorOccurred, q,
                     [this](QAbstractSocket::SocketError error) { OnTcpError(error); });
    QObject::connect(socket, &QIODevice::readyRead, q, [this] { ReadTcp(); });
    QObject::connect(socket, &QIODevice::bytesWritten, q, [this](qint64 count) {
        bytesHandedOver += count;
        CompleteSends();
    });
    QObject::connect(socket, &QAbstractSocket::disconnected, q, [this] {
        if (state != sckConnected)
            return;
        PeerClosed();
    });
}

void Winsock::Impl::PeerClosed()
{
    state = sckClosing;
    closePending = true;
    CaptureTcpClosedByPeer(capture, false);
    PostCloseAfterData();
}

// The peer's close is announced once all it sent before has been.
void Winsock::Impl::PostCloseAfterData()
{
    if (!closePending || arrivalPosted || (tcp && tcp->bytesAvailable() > 0))
        return;
    closePending = false;
    Post([this] { emit q->CloseEvent(); });
}

void Winsock::Impl::OnTcpError(QAbstractSocket::SocketError error)
{
    if (state == sckConnecting) {
        // The next address is tried from the event loop, not from inside this socket's signal.
        lastConnectFailure = SocketFailureOf(error);
        Post([this, failed = tcp] {
            if (tcp == failed)
                TryNextAddress();
        });
        return;
    }
    // The peer's close (or reset) is reported by the disconnected signal as a close.
    if (state == sckConnected && error != QAbstractSocket::RemoteHostClosedError) {
        CaptureTcpClosedByPeer(capture, true);
        Fail(SocketFailureOf(error));
    }
}

void Winsock::Impl::ReadTcp()
{
    FillReceived();
    ScheduleArrival();
}

void Winsock::Impl::FillReceived()
{
    const qint64 room = kMostBytesPerArrival - received.size();
    if (tcp && room > 0)
        received += tcp->read(room);
}

void Winsock::Impl::ScheduleArrival()
{
    if (arrivalPosted || received.isEmpty())
        return;
    arrivalPosted = true;
    Post([this] {
        arrivalPosted = false;
        DeliverArrivals();
    });
}

void Winsock::Impl::DeliverArrivals()
{
    const quint64 current = session;
    for (int n = 0; n < kArrivalsPerTurn && !received.isEmpty(); ++n) {
        const qint64 takenBefore = bytesTaken;
        Guarded([&] { emit q->DataArrival(received.size()); });
        if (session != current)
            return; // the handler closed the control
        if (bytesTaken == takenBefore)
            break; // left for a later GetData, which hands over what follows as well
    }
    PostCloseAfterData();
}

QByteArray Winsock::Impl::TakeReceived()
{
    QByteArray taken = std::exchange(received, {});
    bytesTaken += taken.size();
    CaptureTcpData(capture, false, taken);
    FillReceived();
    ScheduleArrival();
    return taken;
}

void Winsock::Impl::CompleteSends()
{
    while (!sendEnds.empty() && sendEnds.front() <= bytesHandedOver) {
        sendEnds.pop_front();
        Post([this] { emit q->SendComplete(); });
    }
}

void Winsock::Impl::SendTcp(const QByteArray& data)
{
    if (state != sckConnected)
        throw RaisedError(ErrorNumber::NotConnected, "The socket is not connected.");
    if (tcp->write(data) != data.size())
        throw SocketFailureOf(tcp->error());
    bytesQueued += data.size();
    CaptureTcpData(capture, true, data);
    sendEnds.push_back(bytesQueued);
    CompleteSends();
}

void Winsock::Impl::Listen()
{
    RequireProtocol(sckTCPProtocol);
    RequireClosed();
    const quint16 port = RequireLocalPort();
    // Connections kept from the last listening are offered first; until none is left the system
    // refuses new peers, as it does while one is served.
    if (keptRequests.empty())
        StartListener(port);
    BeginSession();
    state = sckListening;
    if (!server)
        Post([this] { OfferNextRequest(); });
}

void Winsock::Impl::StartListener(quint16 port)
{
    auto* listener = new QTcpServer(q);
    // Qt takes one connection at a time; the others wait in the system's backlog, which bounds
    // them.
    listener->setMaxPendingConnections(1);
    listener->setListenBacklogSize(kListenBacklog);
    if (!listener->listen(QHostAddress::Any, port)) {
        const RaisedError failure = SocketFailureOf(listener->serverError());
        delete listener;
        throw failure;
    }
    server = listener;
    QObject::connect(server, &QTcpServer::newConnection, q,
                     [this] { Post([this] { OfferNextRequest(); }); });
    QObject::connect(server, &QTcpServer::acceptError, q,
                     [this](QAbstractSocket::SocketError error) { Fail(SocketFailureOf(error)); });
}

// Closing a listener resets every connection still in its backlog, and the peer may already
// have sent and closed. So new attempts are stopped first (their peers try again and are refused
// once it is closed), then what the system had completed, or completes within a round trip, is
// taken out, oldest first, and kept for the next Listen.
void Winsock::Impl::KeepCompleted()
{
    StopNewHandshakes(server->socketDescriptor());
    do {
        while (keptRequests.size() < kMostKept) {
            QTcpSocket* request = server->nextPendingConnection();
            if (!request)
                break;
            Adopt(request);
            keptRequests.push_back(request);
        }
    } while (keptRequests.size() < kMostKept && server->waitForNewConnection(kHandshakeWaitMs) &&
             server->hasPendingConnections());
}

void Winsock::Impl::Adopt(QTcpSocket* request)
{
    request->setParent(q); // outlives the listener, which the handler's Close removes
    // A peer that waits its turn fills a small hold, then TCP slows it down.
    request->setReadBufferSize(kMostBytesPerArrival);
}

QTcpSocket* Winsock::Impl::NextRequest()
{
    if (!keptRequests.empty()) {
        QTcpSocket* request = keptRequests.front();
        keptRequests.pop_front();
        return request;
    }
    QTcpSocket* request = server ? server->nextPendingConnection() : nullptr;
    if (request)
        Adopt(request);
    return request;
}

// Each connection gets its request id when it is offered, so the ids follow one another.
void Winsock::Impl::OfferNextRequest()
{
    QTcpSocket* request = NextRequest();
    if (!request)
        return;
    lastRequestId = lastRequestId == std::numeric_limits<qint32>::max() ? 1 : lastRequestId + 1;
    offeredRequests.insert(lastRequestId, request);
    const quint64 current = session;
    OfferRequest(lastRequestId);
    if (session == current && state == sckListening)
        ContinueListening();
}

void Winsock::Impl::OfferRequest(qint32 requestId)
{
    Guarded([&] { emit q->ConnectionRequest(requestId); });
    // Whatever the handler did not accept is refused, not left open.
    if (QTcpSocket* unaccepted = offeredRequests.take(requestId))
        Refuse(unaccepted);
}

// The handler left the control listening: the next kept connection, or the listener itself.
void Winsock::Impl::ContinueListening()
{
    if (!keptRequests.empty()) {
        Post([this] { OfferNextRequest(); });
        return;
    }
    if (server)
        return;
    try {
        StartListener(RequireLocalPort());
    } catch (const RaisedError& failure) {
        Fail(failure);
    }
}

int Winsock::Impl::RefuseKeptRequests()
{
    const int count = int(keptRequests.size());
    for (QTcpSocket* request : keptRequests)
        Refuse(request);
    keptRequests.clear();
    return count;
}

void Winsock::Impl::Accept(qint32 requestId)
{
    RequireProtocol(sckTCPProtocol);
    RequireClosed();
    QTcpSocket* request = offeredRequests.take(requestId);
    if (!request)
        throw RaisedError(ErrorNumber::InvalidArgument,
                          "There is no pending connection request with that id.");
    BeginSession();
    tcp = request;
    WireTcp(tcp);
    state = sckConnected;
    CaptureTcpOpened(capture, tcp, false);
    ReadTcp(); // what the peer sent before it was accepted
    if (tcp->state() != QAbstractSocket::ConnectedState)
        PeerClosed();
}

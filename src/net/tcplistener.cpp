#include "net/tcplistener.h"

#include "net/handshakestop.h"
#include "net/socketerrors.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <limits>

namespace {

// Connections the system completes while the program has not yet taken them.
constexpr int kListenBacklog = 50;
// Kept when listening stops: the backlog, and the handshakes already answered then.
constexpr std::size_t kMostKept = 2 * kListenBacklog;
// A handshake the listener has answered completes one round trip later: at once on loopback,
// within a few milliseconds on a local network.
constexpr int kHandshakeWaitMs = 5;

void Refuse(QTcpSocket* request)
{
    request->abort();
    request->deleteLater();
}

} // namespace

TcpListener::TcpListener(SocketSession& session) : session_(session) {}

TcpListener::~TcpListener()
{
    Stop();
}

void TcpListener::Listen(quint16 port)
{
    port_ = port;
    // Connections kept from the last listening are offered first; until none is left the system
    // refuses new peers, as it does while one is served.
    if (kept_.empty())
        StartServer(port);
    session_.Begin();
    session_.SetState(Winsock::sckListening);
    if (!server_)
        session_.Post([this] { OfferNextRequest(); });
}

void TcpListener::StartServer(quint16 port)
{
    auto* server = new QTcpServer(&session_.Owner());
    // Qt takes one connection at a time; the others wait in the system's backlog, which bounds
    // them.
    server->setMaxPendingConnections(1);
    server->setListenBacklogSize(kListenBacklog);
    if (!server->listen(QHostAddress::Any, port)) {
        const RaisedError failure = SocketFailureOf(server->serverError());
        delete server;
        throw failure;
    }
    server_ = server;
    QObject::connect(server_, &QTcpServer::newConnection, &context_,
                     [this] { session_.Post([this] { OfferNextRequest(); }); });
    QObject::connect(
        server_, &QTcpServer::acceptError, &context_,
        [this](QAbstractSocket::SocketError error) { session_.Fail(SocketFailureOf(error)); });
}

// Requests already offered stay: a ConnectionRequest handler closes, then accepts.
void TcpListener::Stop()
{
    if (!server_)
        return;
    QObject::disconnect(server_, nullptr, &context_, nullptr);
    KeepCompleted();
    server_->close();
    server_->deleteLater();
    server_ = nullptr;
}

// Closing a listener resets every connection still in its backlog, and the peer may already
// have sent and closed. So new attempts are stopped first (their peers try again and are refused
// once it is closed), then what the system had completed, or completes within a round trip, is
// taken out, oldest first, and kept for the next Listen.
void TcpListener::KeepCompleted()
{
    StopNewHandshakes(server_->socketDescriptor());
    do {
        while (kept_.size() < kMostKept) {
            QTcpSocket* request = server_->nextPendingConnection();
            if (!request)
                break;
            Adopt(request);
            kept_.push_back(request);
        }
    } while (kept_.size() < kMostKept && server_->waitForNewConnection(kHandshakeWaitMs) &&
             server_->hasPendingConnections());
}

void TcpListener::Adopt(QTcpSocket* request)
{
    request->setParent(&session_.Owner()); // outlives the server, which the handler's Close removes
    // A peer that waits its turn fills a small hold, then TCP slows it down.
    request->setReadBufferSize(Winsock::kMostBytesPerArrival);
}

QTcpSocket* TcpListener::NextRequest()
{
    if (!kept_.empty()) {
        QTcpSocket* request = kept_.front();
        kept_.pop_front();
        return request;
    }
    QTcpSocket* request = server_ ? server_->nextPendingConnection() : nullptr;
    if (request)
        Adopt(request);
    return request;
}

// Each connection gets its request id when it is offered, so the ids follow one another.
void TcpListener::OfferNextRequest()
{
    QTcpSocket* request = NextRequest();
    if (!request)
        return;
    lastRequestId_ = lastRequestId_ == std::numeric_limits<qint32>::max() ? 1 : lastRequestId_ + 1;
    offered_.insert(lastRequestId_, request);
    const quint64 current = session_.Current();
    OfferRequest(lastRequestId_);
    if (session_.Current() == current && session_.State() == Winsock::sckListening)
        ContinueListening();
}

void TcpListener::OfferRequest(qint32 requestId)
{
    emit session_.Owner().ConnectionRequest(requestId);
    // Whatever the handler did not accept is refused, not left open.
    if (QTcpSocket* unaccepted = offered_.take(requestId))
        Refuse(unaccepted);
}

// The handler left the control listening: the next kept connection, or the server itself.
void TcpListener::ContinueListening()
{
    if (!kept_.empty()) {
        session_.Post([this] { OfferNextRequest(); });
        return;
    }
    if (server_)
        return;
    try {
        StartServer(port_);
    } catch (const RaisedError& failure) {
        session_.Fail(failure);
    }
}

QTcpSocket* TcpListener::TakeOffered(qint32 requestId)
{
    return offered_.take(requestId);
}

int TcpListener::RefuseKept()
{
    const int count = int(kept_.size());
    for (QTcpSocket* request : kept_)
        Refuse(request);
    kept_.clear();
    return count;
}

quint16 TcpListener::LocalPort() const
{
    return server_ ? server_->serverPort() : 0;
}

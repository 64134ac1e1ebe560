#pragma once

#include "net/socketsession.h"

#include <QHash>
#include <QObject>
#include <deque>

class QTcpServer;
class QTcpSocket;

// The TCP listener: offers each connection that reaches its port to the program by request id,
// one at a time. The connections the system had completed when listening stopped are kept and
// offered first by the next Listen; one offered and not accepted is refused.
class TcpListener {
public:
    explicit TcpListener(SocketSession& session);
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Begins a new session of the control, listening on `port`; throws RaisedError when the
    // port cannot be listened on.
    void Listen(quint16 port);
    // Stops listening; the connections completed by then are kept.
    void Stop();
    // The offered connection `requestId`, now the caller's; nullptr when there is none.
    QTcpSocket* TakeOffered(qint32 requestId);
    // Resets the kept connections instead (nothing will listen again); returns how many.
    int RefuseKept();
    // The port listened on, 0 while not listening.
    quint16 LocalPort() const;

private:
    void StartServer(quint16 port);
    void KeepCompleted();
    void Adopt(QTcpSocket* request);
    QTcpSocket* NextRequest();
    void OfferNextRequest();
    void OfferRequest(qint32 requestId);
    void ContinueListening();

    SocketSession& session_;
    QObject context_; // ends the server's connections with the listener
    QTcpServer* server_ = nullptr;
    quint16 port_ = 0;
    qint32 lastRequestId_ = 0;
    // Oldest first; bounded by the listen backlog (tcplistener.cpp).
    std::deque<QTcpSocket*> kept_;
    QHash<qint32, QTcpSocket*> offered_; // in the hands of a ConnectionRequest handler
};

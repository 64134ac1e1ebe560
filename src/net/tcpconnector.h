#pragma once

#include "net/raisederror.h"
#include "net/socketsession.h"

#include <QAbstractSocket>
#include <QObject>
#include <functional>

class QTcpSocket;

// The TCP client's way out: resolves the remote host, then tries its addresses one after
// another until one answers, and hands that connected socket over. When none answers, the
// control fails with the last address's failure.
class TcpConnector {
public:
    using Connected = std::function<void(QTcpSocket*)>;

    TcpConnector(SocketSession& session, Connected connected);
    ~TcpConnector();
    TcpConnector(const TcpConnector&) = delete;
    TcpConnector& operator=(const TcpConnector&) = delete;

    void Start(const QString& host, quint16 port);
    // Abandons the attempt under way, if any.
    void Stop();
    // The attempt's own port, 0 when none is under way.
    quint16 LocalPort() const;

private:
    void TryNextAddress();
    void OnError(QAbstractSocket::SocketError error);
    void HandOver();

    SocketSession& session_;
    Connected connected_;
    QObject context_; // ends the attempt's connections with the connector
    QTcpSocket* attempt_ = nullptr;
    quint16 port_ = 0;
    SocketSession::Addresses untried_;
    RaisedError lastFailure_{0, {}};
};

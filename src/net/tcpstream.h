#pragma once

#include "net/socketaddress.h"
#include "net/socketsession.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>
#include <deque>

class QTcpSocket;

// A connected TCP socket, connected out or accepted. What arrives is handed to the program in
// arrivals of at most Winsock::kMostBytesPerArrival bytes; each SendData completes once all its
// bytes are with the system; the peer's close is announced after the last of its data.
class TcpStream {
public:
    explicit TcpStream(SocketSession& session);
    ~TcpStream();
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Carries `socket` from now on; what its peer sent before, and a close, are taken at once.
    void Adopt(QTcpSocket* socket);
    // Lets go of the socket; what was sent and is not out yet still goes, for a while.
    void Close();
    // `now`: to the system before returning, and not captured unless it took them.
    void Send(const QByteArray& data, bool now = false);
    // What has arrived and not been taken; the socket's next part follows as a new arrival.
    QByteArray Take();
    quint16 LocalPort() const;
    // The peer of the connection carried now, or of the last one.
    const PeerAddress& Peer() const { return peer_; }

private:
    void OnError(QAbstractSocket::SocketError error);
    void Read();
    void FillReceived();
    void ScheduleArrival();
    void DeliverArrivals();
    void PeerClosed();
    void PostCloseAfterData();
    void CompleteSends();

    SocketSession& session_;
    QObject context_; // ends the socket's connections with the stream
    QTcpSocket* socket_ = nullptr;
    PeerAddress peer_;
    QByteArray received_;
    qint64 bytesTaken_ = 0; // by Take, over the stream's life
    bool arrivalPosted_ = false;
    bool closePending_ = false; // the peer has closed; announced after its last data
    qint64 bytesQueued_ = 0;
    qint64 bytesHandedOver_ = 0;
    std::deque<qint64> sendEnds_; // bytesQueued_ at the end of each Send
    int resetWatch_ = -1;         // while captured (peerreset.h)
};

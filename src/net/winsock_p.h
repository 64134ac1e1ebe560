#pragma once

// The inner working of Winsock, shared by its TCP and UDP halves.

#include "net/capturesink.h"
#include "net/raisederror.h"
#include "net/udpsocket.h"
#include "net/winsock.h"

#include <QAbstractSocket>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <deque>
#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QSocketNotifier;
class QTimer;

class Winsock::Impl {
public:
    explicit Impl(Winsock* owner) : q(owner) {}

    // Common (winsock.cpp)
    void BeginSession();
    void CloseAll();
    void Post(std::function<void()> delivery);
    void Fail(const RaisedError& error);
    // Runs a delivery to the program's handlers; what they throw stops here, not in the event
    // loop.
    static void Guarded(const std::function<void()>& delivery);
    void Resolve(const QString& host, std::function<void(const QList<QHostAddress>&)> done);
    void RequireClosed() const;
    void RequireProtocol(int wanted) const;
    quint16 RequireLocalPort() const;

    // TCP (winsocktcp.cpp)
    void CloseTcp();
    void StartTcpConnect();
    void Listen();
    void Accept(qint32 requestId);
    void SendTcp(const QByteArray& data);
    // What has arrived and not been taken; the socket's next part follows as a new arrival.
    QByteArray TakeReceived();
    int RefuseKeptRequests();

    // UDP (winsockudp.cpp)
    void CloseUdp();
    void Bind();
    void OpenUdpTowardsRemote();
    void SendUdp(const QByteArray& data);

    Winsock* q;
    int protocol = sckTCPProtocol;
    qint32 localPort = 0;
    QString remoteHost;
    qint32 remotePort = 0;
    int state = sckClosed;
    // Every queued delivery carries the session it belongs to; Close starts a new one, so
    // nothing of an old connection reaches the program.
    quint64 session = 0;
    int lookupId = -1;
    CaptureSink* capture = nullptr;

    // TCP client and connection
    QTcpSocket* tcp = nullptr;
    QList<QHostAddress> untriedAddresses;
    RaisedError lastConnectFailure{0, {}};
    QByteArray received;
    qint64 bytesTaken = 0; // by GetData, over the control's life
    bool arrivalPosted = false;
    bool closePending = false; // the peer has closed; announced after its last data
    qint64 bytesQueued = 0;
    qint64 bytesHandedOver = 0;
    std::deque<qint64> sendEnds; // bytesQueued at the end of each SendData call

    // TCP listener
    QTcpServer* server = nullptr;
    qint32 lastRequestId = 0;
    // Connections the system had completed when listening stopped, oldest first; the next Listen
    // offers them before it listens again. Bounded by the listen backlog (winsocktcp.cpp).
    std::deque<QTcpSocket*> keptRequests;
    QHash<qint32, QTcpSocket*> offeredRequests; // in the hands of a ConnectionRequest handler

    // UDP
    std::unique_ptr<UdpSocket> udp;
    QSocketNotifier* udpReadable = nullptr;
    bool replyToSender = false; // bound: answer whoever sent last; else send to the remote
    QHostAddress target;
    quint16 targetPort = 0;
    QList<QByteArray> unsentDatagrams; // sent before the remote host was resolved
    QByteArray datagram;
    quint32 dropsSeen = 0;
    qint64 lossesUntold = 0;
    int undelivered = 0; // of the batch read last
    QTimer* lossPacer = nullptr; // at most one Lost event a second
    QTimer* readPacer = nullptr; // watches the socket again a moment after a short batch

private:
    void TryNextAddress();
    void WireTcp(QTcpSocket* socket);
    void OnTcpError(QAbstractSocket::SocketError error);
    void ReadTcp();
    void FillReceived();
    void ScheduleArrival();
    void DeliverArrivals();
    void PeerClosed();
    void PostCloseAfterData();
    void CompleteSends();
    void StartListener(quint16 port);
    void KeepCompleted();
    void Adopt(QTcpSocket* request);
    QTcpSocket* NextRequest();
    void OfferNextRequest();
    void OfferRequest(qint32 requestId);
    void ContinueListening();
    void OpenUdp(quint16 port);
    void AimUdp(const QList<QHostAddress>& addresses);
    void ReadDatagrams();
    void DeliverBatch(int count);
    void WatchAgain(int lastBatch);
    void CountLosses();
    void TellLosses();
};

#pragma once

#include "net/socketsession.h"
#include "net/udpsocket.h"

#include "net/socketaddress.h"
#include <QByteArray>

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <memory>

class QSocketNotifier;

// A UDP socket of the control. Bound, it answers whoever sent last; opened towards a remote, it
// sends there once the remote host is resolved. What arrives is read a batch per turn of the
// event loop and handed over one datagram per DataArrival; what the system dropped is counted
// and told as Lost, at most once a second.
class UdpPort {
public:
    explicit UdpPort(SocketSession& session);
    ~UdpPort();
    UdpPort(const UdpPort&) = delete;
    UdpPort& operator=(const UdpPort&) = delete;

    // Throws RaisedError when the port cannot be bound.
    void Bind(quint16 port);
    void OpenTowards(quint16 localPort, const QString& host, quint16 port);
    void Send(const QByteArray& data);
    // One datagram to `peer`, whoever sent last.
    void SendToPeer(const QByteArray& data, const PeerAddress& peer);
    // The datagram just announced.
    QByteArray Take();
    // The datagrams read and not shown, and the losses not yet told, come as one Lost event.
    void Close();
    // The port bound, 0 while closed.
    quint16 LocalPort() const;
    // The sender of the datagram just delivered; null before the first.
    PeerAddress LastSender() const;
    // At the end of the program, whose queued events will never be delivered: what was read and
    // not shown, then what waits in the system's buffer (bounded), comes as DataArrival events
    // now, and one Lost event tells every drop counted and not yet told.
    void Drain();

private:
    void Open(quint16 port);
    void Aim(const SocketSession::Addresses& addresses);
    void SendTo(const QByteArray& data, const PeerAddress& to);
    void ReadDatagrams();
    void DeliverTurn();
    void DeliverBatch();
    bool ReadBatch();
    void WatchAgain(int lastBatch);
    void CountLosses();
    void CountWhatStillWaits();
    void TellLosses();
    void DeliverLosses();

    SocketSession& session_;
    QObject context_; // ends the notifier's connections with the port
    std::unique_ptr<UdpSocket> socket_;
    QSocketNotifier* readable_ = nullptr;
    bool drained_ = false;       // by a stop, which the end of the program follows
    bool replyToSender_ = false; // bound: answer whoever sent last; else send to the remote
    QHostAddress target_;
    quint16 targetPort_ = 0;
    QList<QByteArray> unsent_; // sent before the remote host was resolved
    QByteArray datagram_;      // the last arrival's, kept to be filled again by the next
    bool untaken_ = false;     // datagram_ is the arrival just announced and not yet taken
    quint32 dropsSeen_ = 0;
    qint64 lossesUntold_ = 0;
    int batchSize_ = 0;   // datagrams in the batch read last
    int undelivered_ = 0; // of them
    QTimer lossPacer_;    // at most one Lost event a second
    QTimer readPacer_;    // watches the socket again a moment after a short batch
};

#pragma once

#include "net/socketaddress.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>

class CaptureSink;

// The program's socket control: one object that is, in turn, a TCP client, a TCP listener that
// hands each incoming connection over by request id, a TCP connection, or a UDP socket.
//
// Methods that fail throw RaisedError at the call. Events are signals delivered through the
// event loop, never from inside a method call, and none of an old connection arrives after
// Close(). Their handlers must let nothing escape (the program connects them through
// GuardedSlot, net/guard.h): the control does not catch for them.
class Winsock : public QObject {
    Q_OBJECT
public:
    enum ProtocolValue { sckTCPProtocol = 0, sckUDPProtocol = 1 };
    enum StateValue {
        sckClosed = 0,
        sckOpen = 1,
        sckListening = 2,
        sckConnectionPending = 3,
        sckResolvingHost = 4,
        sckHostResolved = 5,
        sckConnecting = 6,
        sckConnected = 7,
        sckClosing = 8,
        sckError = 9,
    };

    // A peer that sends faster than its data is taken is slowed down by TCP itself rather than
    // piling megabytes into memory and into single arrivals.
    static constexpr qint64 kMostBytesPerArrival = 16 * 1024;

    explicit Winsock(QObject* parent = nullptr);
    ~Winsock() override;

    int Protocol() const;
    void SetProtocol(int protocol);
    qint32 LocalPort() const;
    void SetLocalPort(qint32 port);
    // A blank host or a port outside 1..65535 raises, and the value held before is kept, so that
    // an unusable remote is reported where it is set rather than at a later Connect().
    QString RemoteHost() const;
    void SetRemoteHost(const QString& host);
    qint32 RemotePort() const;
    void SetRemotePort(qint32 port);
    int State() const;

    // TCP: starts connecting to host:port (port rounded half-to-even, 1..65535).
    void Connect(const QString& host, double port);
    // Opens towards RemoteHost/RemotePort; never throws, a failure comes as the Error event.
    void Connect();
    void Listen();
    void Bind();
    void Accept(qint32 requestId);
    void SendData(const QByteArray& data);
    void SendData(const QString& text); // sent in the Windows-31J code page
    // SendData that hands the bytes to the system before it returns, not at the next turn of the
    // event loop, by when a peer that has shut its sending side may have been read as gone.
    void SendDataNow(const QByteArray& data);
    // UDP: one datagram to `peer` (an answer to a datagram other than the latest).
    void SendDataTo(const QByteArray& data, const PeerAddress& peer);
    // TCP: what has arrived and not been taken yet, at most kMostBytesPerArrival bytes; what the
    // peer sent beyond that comes with the next DataArrival. UDP: the datagram just announced.
    QByteArray GetData();
    // Who sent what GetData gives: the TCP peer, or the sender of the UDP datagram just announced.
    PeerAddress LastPeer() const;
    // Never throws; afterwards State() is sckClosed. Connections that had reached a listening
    // control but were not offered yet are kept and offered by the next Listen, in order.
    void Close();
    // Resets the kept connections instead (nothing will listen again); returns how many.
    int RefuseKeptRequests();
    // For the end of the program, whose queued events will never come: UDP, what was read and
    // not delivered and what waits in the system's buffer (bounded) arrive now, one DataArrival
    // each, then one Lost tells the drops not yet told. TCP: nothing.
    void Drain();
    // Everything the control sends, delivers, opens and closes also goes to `sink` (none: null).
    void SetCapture(CaptureSink* sink);
    // Whether a SendComplete would reach anyone: a flood of answers would otherwise cost a wake-up
    // of the event loop each, for nobody.
    bool SendCompleteWanted() const;

signals:
    void ConnectEvent();
    void DataArrival(qint64 bytesTotal);
    void ConnectionRequest(qint32 requestId);
    void SendComplete();
    void CloseEvent();
    void Error(int number, const QString& description);
    // UDP: datagrams the system dropped for this socket, for want of room to hold them, since the
    // previous Lost event; at most one a second while losses go on. The one event that still
    // comes after Close(): the losses not yet told, and the datagrams read but not delivered.
    void Lost(qint64 count);

private:
    class Impl;
    std::unique_ptr<Impl> d;
};

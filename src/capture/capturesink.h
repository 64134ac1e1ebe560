#pragma once

#include <QByteArray>
#include <QHostAddress>

class QTcpSocket;
class UdpSocket;

// What a socket control hands to a capture: every connection it opens or accepts, every byte it
// sends or delivers, every close, with the addresses the system gives for them.
class CaptureSink {
public:
    virtual ~CaptureSink() = default;
    virtual void TcpOpened(const QHostAddress& local, quint16 localPort, const QHostAddress& remote,
                           quint16 remotePort, bool outgoing) = 0;
    virtual void TcpData(bool outgoing, const QByteArray& bytes) = 0;
    virtual void TcpClosedHere() = 0;
    virtual void TcpClosedByPeer(bool reset) = 0;
    // A datagram through the socket bound to `localPort` on every address.
    virtual void Datagram(quint16 localPort, const QHostAddress& remote, quint16 remotePort,
                          bool outgoing, const QByteArray& bytes) = 0;
};

// The socket control's calls, one line each where it sends, delivers, connects or closes; with
// no capture they cost one test of the pointer.
void CaptureTcpOpened(CaptureSink* sink, const QTcpSocket* socket, bool outgoing);
inline void CaptureTcpData(CaptureSink* sink, bool outgoing, const QByteArray& bytes)
{
    if (sink)
        sink->TcpData(outgoing, bytes);
}
inline void CaptureTcpClosedHere(CaptureSink* sink)
{
    if (sink)
        sink->TcpClosedHere();
}
inline void CaptureTcpClosedByPeer(CaptureSink* sink, bool reset)
{
    if (sink)
        sink->TcpClosedByPeer(reset);
}
// A datagram to or from `remote`, on the UDP socket `socket`.
void CaptureDatagram(CaptureSink* sink, const UdpSocket& socket, const QHostAddress& remote,
                     quint16 remotePort, bool outgoing, const QByteArray& bytes);
// A datagram from the socket's last sender.
void CaptureArrival(CaptureSink* sink, const UdpSocket& socket, const QByteArray& bytes);

#include "capture/capturesink.h"

#include "net/socketaddress.h"
#include "net/udpsocket.h"

#include <QTcpSocket>

void CaptureTcpOpened(CaptureSink* sink, const QTcpSocket* socket, bool outgoing)
{
    if (!sink)
        return;
    sink->TcpOpened(PlainAddress(socket->localAddress()), socket->localPort(),
                    PlainAddress(socket->peerAddress()), socket->peerPort(), outgoing);
}

void CaptureDatagram(CaptureSink* sink, const UdpSocket& socket, const QHostAddress& remote,
                     quint16 remotePort, bool outgoing, const QByteArray& bytes)
{
    if (!sink)
        return;
    sink->Datagram(socket.LocalPort(), PlainAddress(remote), remotePort, outgoing, bytes);
}

void CaptureArrival(CaptureSink* sink, const UdpSocket& socket, const QByteArray& bytes)
{
    if (sink)
        CaptureDatagram(sink, socket, socket.LastSenderAddress(), socket.LastSenderPort(), false,
                        bytes);
}

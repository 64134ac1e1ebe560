#include "support/winsockevents.h"

#include <QNetworkDatagram>
#include <QTcpServer>

WinsockEvents::WinsockEvents(Winsock& socket)
    : connected(&socket, &Winsock::ConnectEvent), arrivals(&socket, &Winsock::DataArrival),
      requests(&socket, &Winsock::ConnectionRequest),
      sendsCompleted(&socket, &Winsock::SendComplete), closed(&socket, &Winsock::CloseEvent),
      errors(&socket, &Winsock::Error)
{
}

int WinsockEvents::Total() const
{
    return int(connected.count() + arrivals.count() + requests.count() + sendsCompleted.count() +
               closed.count() + errors.count());
}

bool HasIPv6Loopback()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHostIPv6, 0);
}

void CollectBytes(QTcpSocket& peer, QByteArray& into)
{
    QObject::connect(&peer, &QIODevice::readyRead, &peer, [&] { into += peer.readAll(); });
}

void CollectDatagrams(QUdpSocket& peer, QList<QByteArray>& into)
{
    QObject::connect(&peer, &QIODevice::readyRead, &peer, [&] {
        while (peer.hasPendingDatagrams())
            into.append(peer.receiveDatagram().data());
    });
}

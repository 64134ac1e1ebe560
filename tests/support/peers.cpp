#include "support/peers.h"

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::Any, 0);
    return probe.serverPort();
}

TcpPeer::TcpPeer(const QHostAddress& address)
{
    server_.listen(address, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            const int index = int(connections_.size());
            connections_.append(socket);
            received_.append(QByteArray());
            connect(socket, &QTcpSocket::readyRead, this,
                    [this, socket, index] { received_[index] += socket->readAll(); });
        }
    });
}

void TcpPeer::send(const QByteArray& bytes, int i)
{
    connections_.at(i)->write(bytes);
    connections_.at(i)->flush();
}

void TcpPeer::closeConnection(int i)
{
    connections_.at(i)->disconnectFromHost();
}

UdpPeer::UdpPeer()
{
    socket_.bind(QHostAddress::LocalHost, 0);
    connect(&socket_, &QUdpSocket::readyRead, this, [this] {
        while (socket_.hasPendingDatagrams())
            datagrams_.append(socket_.receiveDatagram());
    });
}

void UdpPeer::sendTo(quint16 port, const QByteArray& bytes)
{
    socket_.writeDatagram(bytes, QHostAddress::LocalHost, port);
}

void UdpPeer::replyToLatest(const QByteArray& bytes)
{
    const QNetworkDatagram& latest = datagrams_.constLast();
    socket_.writeDatagram(bytes, latest.senderAddress(), quint16(latest.senderPort()));
}

#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

// A port nothing listens on right now (bound, read back, released).
quint16 FreePort();

// A loopback TCP peer that accepts connections and keeps what each one sends.
class TcpPeer : public QObject {
    Q_OBJECT
public:
    explicit TcpPeer(const QHostAddress& address = QHostAddress::LocalHost);
    quint16 port() const { return server_.serverPort(); }
    int connectionCount() const { return int(connections_.size()); }
    QTcpSocket* connection(int i = 0) const { return connections_.value(i); }
    QByteArray received(int i = 0) const { return received_.value(i); }
    void send(const QByteArray& bytes, int i = 0);
    void closeConnection(int i = 0);

private:
    QTcpServer server_;
    QList<QTcpSocket*> connections_;
    QList<QByteArray> received_;
};

// A loopback UDP peer that keeps every datagram it gets.
class UdpPeer : public QObject {
    Q_OBJECT
public:
    UdpPeer();
    quint16 port() const { return socket_.localPort(); }
    const QList<QNetworkDatagram>& datagrams() const { return datagrams_; }
    void sendTo(quint16 port, const QByteArray& bytes);
    void replyToLatest(const QByteArray& bytes);

private:
    QUdpSocket socket_;
    QList<QNetworkDatagram> datagrams_;
};

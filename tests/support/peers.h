#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <atomic>
#include <thread>

// A TCP port taken by binding port 0, held bound but not listening while this lives: connections
// to it are refused and the system hands it to no one else, yet a listener that shares addresses
// (as every Qt server on this system does) can listen on it. For a port a test must type.
class HeldTcpPort {
public:
    explicit HeldTcpPort(bool even = false);
    ~HeldTcpPort();
    HeldTcpPort(const HeldTcpPort&) = delete;
    HeldTcpPort& operator=(const HeldTcpPort&) = delete;
    quint16 port() const { return port_; }

private:
    int fd_ = -1;
    quint16 port_ = 0;
};

// Drops the connection with a reset instead of an orderly close (linger on, zero seconds).
void ResetConnection(QTcpSocket* socket);

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
    explicit UdpPeer(const QHostAddress& address = QHostAddress::LocalHost);
    quint16 port() const { return socket_.localPort(); }
    const QList<QNetworkDatagram>& datagrams() const { return datagrams_; }
    void sendTo(quint16 port, const QByteArray& bytes); // to that port on 127.0.0.1
    void replyToLatest(const QByteArray& bytes);

private:
    QUdpSocket socket_;
    QList<QNetworkDatagram> datagrams_;
};

// A peer on its own thread that sends to 127.0.0.1:port as fast as the system lets it (one TCP
// connection, or datagrams) until it is destroyed.
class Flooder {
public:
    Flooder(bool udp, quint16 port, int chunkSize = 1024);
    ~Flooder();
    Flooder(const Flooder&) = delete;
    Flooder& operator=(const Flooder&) = delete;
    qint64 bytesSent() const { return sent_; }
    // Ends the sending; bytesSent() no longer changes.
    void stop();

private:
    void Run(bool udp, quint16 port, int chunkSize);

    std::atomic<bool> stop_{false};
    std::atomic<qint64> sent_{0};
    std::thread thread_;
};

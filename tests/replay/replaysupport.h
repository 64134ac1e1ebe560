#pragma once

// What the replay tests share: the captured session, peertest-cli run to its end while the test's
// own loopback peers answer on the event loop, and those peers.
#include "capture/capturefile.h"
#include "capture/packets.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QHash>
#include <QNetworkDatagram>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <functional>
#include <vector>

inline const PacketEnds kTcpEnds{QHostAddress(QStringLiteral("10.1.2.3")), 40001,
                                 QHostAddress(QStringLiteral("10.9.8.7")), 5000};
inline const PacketEnds kIPv6Ends{QHostAddress(QStringLiteral("fd00::1")), 40001,
                                  QHostAddress(QStringLiteral("fd00::2")), 5000};

// The captured session: each PING n is answered PONG n with the server's clock.
inline const QList<QPair<QByteArray, QByteArray>> kTurns{{"PING 1\r\n", "PONG 1 t=1000\r\n"},
                                                         {"PING 2\r\n", "PONG 2 t=1001\r\n"}};

// What the captured server answered PING n: PONG n t=1000 for the first, t=1001 for the second.
inline QByteArray Pong(const QByteArray& ping, const QByteArray& clock = "100",
                       QByteArray number = {})
{
    const QByteArray n = ping.mid(5, 1);
    return "PONG " + (number.isEmpty() ? n : number) + " t=" + clock +
           QByteArray::number(n.toInt() - 1) + "\r\n";
}

inline QString Target(quint16 port)
{
    return QStringLiteral("tcp://127.0.0.1:%1").arg(port);
}

// The captured session, as the program's capture code makes the packets of a connection.
inline std::vector<QByteArray> TcpSession(const PacketEnds& ends)
{
    TcpFlow flow(ends, true);
    std::vector<QByteArray> packets = flow.Handshake();
    for (const auto& [request, answer] : kTurns) {
        for (const auto& part : {flow.Data(true, request), flow.Data(false, answer)})
            packets.insert(packets.end(), part.begin(), part.end());
    }
    const std::vector<QByteArray> close = flow.CloseHere();
    packets.insert(packets.end(), close.begin(), close.end());
    return packets;
}

struct Finished {
    int status = -1;
    QString out;
    QString err;
    qint64 ms = 0;
};

// Runs peertest-cli, the event loop turning meanwhile; the caller's record settings are not
// passed on.
inline Finished RunCli(const QStringList& arguments)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("PEERTEST_LOG_DIR"));
    environment.remove(QStringLiteral("PEERTEST_CAPTURE"));
    QProcess process;
    process.setProcessEnvironment(environment);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(PEERTEST_CLI_BINARY), arguments);
    const bool ended =
        QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 20000);
    if (!ended)
        process.kill();
    process.waitForFinished(5000);
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError()), clock.elapsed()};
}

// A TCP peer that answers each line (up to LF) by `answer`, `delayMs` later, and keeps what each
// connection sent.
class LinePeer {
public:
    using Answer = std::function<QByteArray(const QByteArray& line)>;

    explicit LinePeer(Answer answer, int delayMs = 0,
                      const QHostAddress& address = QHostAddress::LocalHost)
        : answer_(std::move(answer)), delayMs_(delayMs)
    {
        server_.listen(address, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { Accept(); });
    }
    quint16 port() const { return server_.serverPort(); }
    // What each connection sent, in the order they came.
    QByteArrayList received;

private:
    void Accept()
    {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            const qsizetype index = received.size();
            received.append(QByteArray());
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [this, socket, index] { Read(socket, index); });
        }
    }
    void Read(QTcpSocket* socket, qsizetype index)
    {
        const QByteArray bytes = socket->readAll();
        received[index] += bytes;
        QByteArray& pending = pending_[socket];
        pending += bytes;
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray reply = answer_(pending.left(end + 1));
            QTimer::singleShot(delayMs_, socket, [socket, reply] { socket->write(reply); });
        }
    }

    QTcpServer server_;
    Answer answer_;
    int delayMs_;
    QHash<QTcpSocket*, QByteArray> pending_;
};

// A TCP peer that answers the first PING line as captured, then sends "Z" 64 KiB at a time for as
// long as the connection lasts.
class FloodingPeer {
public:
    FloodingPeer()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            QTcpSocket* socket = server_.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                if (socket->canReadLine())
                    socket->write(Pong(socket->readLine()) + QByteArray(64 * 1024, 'Z'));
            });
            QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
                if (socket->bytesToWrite() < 64 * 1024)
                    socket->write(QByteArray(64 * 1024, 'Z'));
            });
        });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    QTcpServer server_;
};

// A UDP peer that answers each datagram with the datagrams `answer` gives, and keeps them all.
class DatagramPeer {
public:
    using Answer = std::function<QByteArrayList(const QByteArray& datagram)>;

    explicit DatagramPeer(Answer answer, const QHostAddress& address = QHostAddress::LocalHost)
        : answer_(std::move(answer))
    {
        socket_.bind(address, 0);
        QObject::connect(&socket_, &QUdpSocket::readyRead, &socket_, [this] { Read(); });
    }
    quint16 port() const { return socket_.localPort(); }
    QByteArrayList received;

private:
    void Read()
    {
        while (socket_.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket_.receiveDatagram();
            received.append(datagram.data());
            for (const QByteArray& reply : answer_(datagram.data()))
                socket_.writeDatagram(datagram.makeReply(reply));
        }
    }

    QUdpSocket socket_;
    Answer answer_;
};

// A capture written as the program writes its own, each packet stamped by the test.
class WrittenCapture {
public:
    WrittenCapture() : file_(dir_.path(), QDate::currentDate()) {}
    QString path() const { return file_.Path(); }
    void write(const std::vector<QByteArray>& packets)
    {
        for (const QByteArray& packet : packets) {
            QVERIFY(file_.Write(packet, when_).isEmpty());
            pause(1'000'000);
        }
    }
    void pause(qint64 ns)
    {
        ns += when_.tv_nsec;
        when_.tv_sec += ns / 1'000'000'000;
        when_.tv_nsec = ns % 1'000'000'000;
    }

private:
    QTemporaryDir dir_;
    CaptureFile file_;
    timespec when_ = CaptureClock();
};

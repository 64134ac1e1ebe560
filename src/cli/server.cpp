#include "cli/server.h"

#include "capture/capturetap.h"
#include "cli/record.h"
#include "cli/transcript.h"
#include "convert/conversions.h"
#include "net/raisederror.h"
#include "net/socketaddress.h"
#include "net/udpsocket.h"
#include "standin/tcpstandin.h"

#include <QSocketNotifier>
#include <QTcpSocket>

namespace {

// Read at most this much a line, so a peer that floods is slowed by TCP itself.
constexpr qint64 kMostBytesPerRead = 64 * 1024;
// A backlog that lets a few hundred peers connect at the same moment without being refused.
constexpr int kListenBacklog = 1024;
// UDP batches read at one turn of the event loop, so the TCP peers get their turn too.
constexpr int kBatchesPerTurn = 16;

PeerEnd EndOf(const QTcpSocket* socket)
{
    return {PlainAddress(socket->peerAddress()), socket->peerPort()};
}

} // namespace

// One TCP peer being served: its stand-in and its flow in the capture. It lives as long as its
// socket, its parent.
class ServedPeer : public QObject {
public:
    ServedPeer(QTcpSocket* socket, StandIn& shared, std::unique_ptr<CaptureTap> tap)
        : QObject(socket), end(EndOf(socket)), tap(std::move(tap)),
          standIn(
              shared, end, [this, socket](const QByteArray& bytes) { return Send(socket, bytes); },
              [this, socket] { Close(socket); }, this)
    {
        if (this->tap)
            this->tap->TcpOpened(PlainAddress(socket->localAddress()), socket->localPort(),
                                 end.address, end.port, false);
    }

    const PeerEnd end;
    std::unique_ptr<CaptureTap> tap;
    TcpStandIn standIn;
    bool closedHere = false;

private:
    QString Send(QTcpSocket* socket, const QByteArray& bytes)
    {
        if (socket->state() != QAbstractSocket::ConnectedState)
            return QStringLiteral("the connection is closed");
        if (socket->write(bytes) != bytes.size())
            return socket->errorString();
        socket->flush(); // now, rather than at the next turn of the event loop
        if (tap)
            tap->TcpData(true, bytes);
        return QString();
    }

    void Close(QTcpSocket* socket)
    {
        closedHere = true;
        if (tap)
            tap->TcpClosedHere();
        socket->disconnectFromHost();
    }
};

RulesServer::RulesServer(Responder& responder, Record& record, Transcript& transcript)
    : responder_(responder), record_(record), transcript_(transcript),
      tcpStandIn_(responder, {[this](const QString& text, const PeerEnd& peer, const Answer* sent) {
                                  Line(text, false, peer, sent);
                              },
                              {}}),
      udpStandIn_(responder,
                  {[this](const QString& text, const PeerEnd& peer, const Answer* sent) {
                       Line(text, true, peer, sent);
                   },
                   {}},
                  [this](const QByteArray& bytes, const QHostAddress& to, quint16 port) {
                      return SendDatagram(bytes, to, port);
                  })
{
    tcp_.setListenBacklogSize(kListenBacklog);
    tcp_.setMaxPendingConnections(kMostPeers);
    connect(&tcp_, &QTcpServer::newConnection, this, &RulesServer::AcceptWaiting);
    refusedTimer_.setSingleShot(true);
    refusedTimer_.setInterval(1000);
    connect(&refusedTimer_, &QTimer::timeout, this, [this] {
        if (refusedUntold_ > 0)
            TellRefused();
    });
}

RulesServer::~RulesServer() = default;

bool RulesServer::ListenTcp(quint16 port, QString& why)
{
    if (!tcp_.listen(QHostAddress::Any, port)) {
        why = QStringLiteral("tcp port %1: %2").arg(port).arg(tcp_.errorString());
        return false;
    }
    transcript_.Event(false, QStringLiteral("[::]:%1").arg(tcp_.serverPort()),
                      QStringLiteral("listening"));
    return true;
}

bool RulesServer::BindUdp(quint16 port, QString& why)
{
    try {
        udp_ = std::make_unique<UdpSocket>(port);
    } catch (const RaisedError& error) {
        why = QStringLiteral("udp port %1: %2").arg(port).arg(error.description());
        return false;
    }
    udpDrops_ = udp_->Drops();
    udpTap_ = record_.NewTap();
    udpNotifier_ = std::make_unique<QSocketNotifier>(udp_->Descriptor(), QSocketNotifier::Read);
    connect(udpNotifier_.get(), &QSocketNotifier::activated, this, &RulesServer::ReadDatagrams);
    transcript_.Event(true, QStringLiteral("[::]:%1").arg(udp_->LocalPort()),
                      QStringLiteral("bound"));
    return true;
}

void RulesServer::Line(const QString& text, bool udp, const PeerEnd& peer, const Answer* sent)
{
    record_.Line(text);
    const QString peerText =
        peer.address.isNull() ? QStringLiteral("-") : PeerText(peer.address, peer.port);
    if (sent)
        transcript_.Line(Transcript::Direction::Sent, udp, peerText, *sent->reply,
                         QStringLiteral("AUTO[") + sent->ruleName + u']');
    else
        transcript_.Event(udp, peerText, text);
}

void RulesServer::AcceptWaiting()
{
    while (QTcpSocket* socket = tcp_.nextPendingConnection()) {
        if (peers_.size() >= kMostPeers)
            Refuse(socket);
        else
            Serve(socket);
    }
}

void RulesServer::Serve(QTcpSocket* socket)
{
    socket->setParent(this);
    socket->setReadBufferSize(kMostBytesPerRead);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto* peer = new ServedPeer(socket, tcpStandIn_, record_.NewTap());
    peers_.insert(socket, peer);
    const QString peerText = PeerText(peer->end.address, peer->end.port);
    record_.Line(QStringLiteral("TCP/IP:requestID:%1 %2").arg(++requestId_).arg(peerText));
    transcript_.Event(false, peerText, QStringLiteral("connected"));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ReadPeer(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { PeerLeft(socket); });
    ReadPeer(socket); // bytes may have come with the connection
}

void RulesServer::Refuse(QTcpSocket* socket)
{
    socket->abort();
    socket->deleteLater();
    ++refused_;
    ++refusedUntold_;
    if (!refusedTimer_.isActive()) {
        TellRefused();
        refusedTimer_.start();
    }
}

void RulesServer::TellRefused()
{
    const QString text = QStringLiteral("REFUSED[%1] peers over %2 at once, %3 in all")
                             .arg(refusedUntold_)
                             .arg(kMostPeers)
                             .arg(refused_);
    record_.Line(text);
    transcript_.Event(false, QStringLiteral("-"), text);
    refusedUntold_ = 0;
}

void RulesServer::ReadPeer(QTcpSocket* socket)
{
    ServedPeer* peer = peers_.value(socket);
    while (peer && socket->bytesAvailable() > 0 &&
           socket->state() == QAbstractSocket::ConnectedState) {
        const QByteArray bytes = socket->read(kMostBytesPerRead);
        if (peer->tap)
            peer->tap->TcpData(false, bytes);
        Arrived(false, peer->end, bytes);
        peer->standIn.Arrived(bytes);
    }
}

void RulesServer::PeerLeft(QTcpSocket* socket)
{
    ServedPeer* peer = peers_.take(socket);
    if (!peer)
        return;
    peer->standIn.Closed();
    if (peer->tap && !peer->closedHere)
        peer->tap->TcpClosedByPeer(false);
    const QString peerText = PeerText(peer->end.address, peer->end.port);
    record_.Line(QStringLiteral("Socket Close. ") + peerText);
    transcript_.Event(false, peerText, QStringLiteral("closed"));
    socket->deleteLater(); // the stand-in may be in the middle of closing it
}

void RulesServer::Arrived(bool udp, const PeerEnd& peer, const QByteArray& bytes)
{
    transcript_.Line(Transcript::Direction::Received, udp, PeerText(peer.address, peer.port),
                     bytes);
    record_.Line(QStringLiteral("RCV[") + BytesToHex(bytes) + u']');
}

void RulesServer::ReadDatagrams()
{
    QByteArray bytes;
    try {
        for (int turn = 0; turn < kBatchesPerTurn; ++turn) {
            const int count = udp_->ReadBatch();
            for (int i = 0; i < count; ++i) {
                udp_->CopyDatagramAt(i, bytes);
                udp_->NoteSenderOf(i);
                const PeerEnd peer{udp_->LastSenderAddress(), udp_->LastSenderPort()};
                if (udpTap_)
                    udpTap_->Datagram(udp_->LocalPort(), peer.address, peer.port, false, bytes);
                Arrived(true, peer, bytes);
                udpStandIn_.Datagram(bytes, peer);
            }
            if (count < UdpSocket::kBatch)
                break;
        }
    } catch (const RaisedError& error) {
        Line(ErrLine(error), true, {});
    }
    if (const quint32 drops = udp_->Drops(); drops != udpDrops_) {
        Line(QStringLiteral("LOST[%1]").arg(drops - udpDrops_), true, {});
        udpDrops_ = drops;
    }
}

QString RulesServer::SendDatagram(const QByteArray& bytes, const QHostAddress& to, quint16 port)
{
    try {
        udp_->SendTo(bytes, PeerAddress::Of(to, port));
    } catch (const RaisedError& error) {
        return error.description();
    }
    if (udpTap_)
        udpTap_->Datagram(udp_->LocalPort(), to, port, true, bytes);
    return QString();
}

void RulesServer::Finish()
{
    // The peers still connected are let go of first, so that the hit counts are the run's last
    // line: nothing a socket says as it goes comes after them.
    for (QTcpSocket* socket : peers_.keys()) {
        socket->disconnect(this);
        PeerLeft(socket);
        socket->abort();
    }
    if (refusedUntold_ > 0)
        TellRefused();
    const QString summary = responder_.SummaryLine();
    record_.Line(summary);
    transcript_.Event(false, QStringLiteral("-"), summary);
    transcript_.Flush();
}

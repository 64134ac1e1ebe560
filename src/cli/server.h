#pragma once

#include "standin/rulessource.h"
#include "standin/standin.h"

#include <QHash>
#include <QTcpServer>
#include <QTimer>

#include <memory>

class CaptureTap;
class QSocketNotifier;
class QTcpSocket;
class Record;
class ServedPeer;
class Transcript;
class UdpSocket;

// serve's listener: answers many TCP peers at once, each with its own unconsumed bytes, and UDP
// datagrams, by the rules in force. Every request and answer is a transcript line naming the
// peer and a line of the day log ("RCV[...]", "AUTO[...]"), as the window's receiver writes.
class RulesServer : public QObject {
    Q_OBJECT
public:
    // More peers than this at once are refused, and counted.
    static constexpr int kMostPeers = 1000;

    RulesServer(Responder& responder, Record& record, Transcript& transcript);
    ~RulesServer() override;

    // False, with why, when the port cannot be had (port 0: any free one).
    bool ListenTcp(quint16 port, QString& why);
    bool BindUdp(quint16 port, QString& why);

    // Tells what is left (replies still waiting, unmatched bytes, refusals) and the rules' hit
    // counts.
    void Finish();

    // A record line for the log and the transcript.
    void Line(const QString& text, bool udp, const PeerEnd& peer, const Answer* sent = nullptr);

private:
    void AcceptWaiting();
    void Serve(QTcpSocket* socket);
    void Refuse(QTcpSocket* socket);
    void TellRefused();
    void ReadPeer(QTcpSocket* socket);
    void PeerLeft(QTcpSocket* socket);
    void ReadDatagrams();
    QString SendDatagram(const QByteArray& bytes, const QHostAddress& to, quint16 port);
    void Arrived(bool udp, const PeerEnd& peer, const QByteArray& bytes);

    Responder& responder_;
    Record& record_;
    Transcript& transcript_;
    StandIn tcpStandIn_;
    StandIn udpStandIn_;
    QTcpServer tcp_;
    QHash<QTcpSocket*, ServedPeer*> peers_;
    quint64 requestId_ = 0;
    quint64 refused_ = 0;
    quint64 refusedUntold_ = 0;
    QTimer refusedTimer_;
    std::unique_ptr<UdpSocket> udp_;
    std::unique_ptr<QSocketNotifier> udpNotifier_;
    std::unique_ptr<CaptureTap> udpTap_;
    quint32 udpDrops_ = 0;
};

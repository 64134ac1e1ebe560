#pragma once

#include "net/guard.h"
#include "rules/responder.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>

// Who a stand-in line is about.
struct PeerEnd {
    QHostAddress address;
    quint16 port = 0;
};

// What a stand-in needs from its owner, for every link it answers.
struct StandInOutput {
    // A record line to show and log ("AUTO[...]", "UNMATCHED[n]", "Rules Err: ..."), the peer
    // it is about and, for the line of a reply sent, that answer (else null).
    std::function<void(const QString& line, const PeerEnd& peer, const Answer* sent)> line;
    // True while the owner shows bytes as hex digits; false: as characters (BytesToText).
    // None: hex.
    std::function<bool()> hexDisplay;
};

// Sends one reply; returns an empty text when the system took it, otherwise why not.
using SendReply = std::function<QString(const QByteArray& bytes)>;
using SendDatagram =
    std::function<QString(const QByteArray& bytes, const QHostAddress& to, quint16 port)>;

// Answers by rules on the owner's sockets, without ever blocking: a rule's delay is a timer, and
// a reply due after its socket is gone becomes a line instead. The owner writes each request's
// own RCV[...] line first; the stand-in then writes a line per reply sent. UDP datagrams are
// answered here; each TCP connection has a TcpStandIn of its own. Nothing thrown by the rules or
// the callbacks reaches the event loop: it becomes an "Err:" line.
class StandIn : public QObject {
    Q_OBJECT
public:
    // `responder` must outlive the stand-in; it may be reloaded meanwhile.
    StandIn(Responder& responder, StandInOutput output, SendDatagram sendTo = {},
            QObject* parent = nullptr);

    // A UDP datagram from `peer`: answered (after the rule's delay) to that peer, whoever sends
    // meanwhile. One no rule matches is told as UNMATCHED[n], n its byte count.
    void Datagram(const QByteArray& bytes, const PeerEnd& peer);

    // "RULES: <name> <hits>, ..., (none) <n>", for the owner to write before its End line.
    QString SummaryLine() const { return responder_.SummaryLine(); }
    Responder& TheResponder() { return responder_; }

    void Line(const QString& text, const PeerEnd& peer, const Answer* sent = nullptr) const
    {
        output_.line(text, peer, sent);
    }
    // The line of a reply: "AUTO[name]:[bytes]" when `why` is empty, else why it was not sent.
    void TellReply(const Answer& answer, const QString& why, const PeerEnd& peer) const;
    // Writes the responder's notices (a rule over its match limit) as lines.
    void TellNotices(const PeerEnd& peer);
    // Runs `work`; anything it throws becomes an "Err:" line about `peer`. A template, so that
    // a datagram's work is not copied into a std::function (an allocation each) to be run.
    template <typename Work> void Guard(Work&& work, const PeerEnd& peer) const
    {
        Guarded(work, [&](const QString& line) { Line(line, peer); });
    }

private:
    void SendDatagramReply(const Answer& answer, const PeerEnd& peer);

    Responder& responder_;
    StandInOutput output_;
    SendDatagram sendTo_;
};

// "AUTO[name] not sent: why" for a reply that could not go out.
QString NotSentLine(const Answer& answer, const QString& why);

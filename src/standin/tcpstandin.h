#pragma once

#include "standin/standin.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <deque>

// One TCP connection answered by the rules: its own unconsumed bytes, its idle time and its
// replies in waiting. Replies go out in the order of their requests (a queue sent from its
// front): a reply whose delay is up waits for any earlier one still delayed, so a stream never
// answers out of turn.
class TcpStandIn : public QObject {
    Q_OBJECT
public:
    // `send` writes to this connection; `close` closes it after a rule's last reply. Neither may
    // destroy this object at once (deleteLater is fine): the stand-in returns straight after.
    TcpStandIn(StandIn& standIn, const PeerEnd& peer, SendReply send, std::function<void()> close,
               QObject* parent = nullptr);

    // Bytes as they came, after the owner's RCV[...] line.
    void Arrived(const QByteArray& bytes);

    // The connection is gone (the peer left, or the owner closed it): replies still waiting are
    // told as not sent, unmatched bytes as UNMATCHED[n]. Nothing is answered afterwards.
    void Closed();

private:
    struct Waiting {
        QDeadlineTimer due;
        Answer answer;
    };

    void Take(Conversation::Fed& fed);
    void Settle();
    void Queue(Answer answer);
    void SendDue();
    bool SendOne(const Answer& answer);
    void ArmIdle();
    void DropIdleBytes();
    void TellUnmatched(qsizetype bytes);

    StandIn& standIn_;
    PeerEnd peer_;
    Conversation conversation_;
    SendReply send_;
    std::function<void()> close_;
    std::deque<Waiting> waiting_;
    QTimer replyTimer_;
    QTimer idleTimer_;
    QTimer settleTimer_;   // the conversation is in debt: its bytes are matched later
    bool closing_ = false; // a rule's closing reply is waiting or sent
    bool gone_ = false;
};

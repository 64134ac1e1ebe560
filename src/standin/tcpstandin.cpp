#include "standin/tcpstandin.h"

TcpStandIn::TcpStandIn(StandIn& standIn, const PeerEnd& peer, SendReply send,
                       std::function<void()> close, QObject* parent)
    : QObject(parent), standIn_(standIn), peer_(peer),
      conversation_(standIn.TheResponder().Converse(peer.address, peer.port)),
      send_(std::move(send)), close_(std::move(close))
{
    replyTimer_.setSingleShot(true);
    replyTimer_.setTimerType(Qt::PreciseTimer);
    idleTimer_.setSingleShot(true);
    settleTimer_.setSingleShot(true);
    connect(&replyTimer_, &QTimer::timeout, this,
            [this] { standIn_.Guard([this] { SendDue(); }, peer_); });
    connect(&idleTimer_, &QTimer::timeout, this,
            [this] { standIn_.Guard([this] { DropIdleBytes(); }, peer_); });
    connect(&settleTimer_, &QTimer::timeout, this, [this] {
        standIn_.Guard(
            [this] {
                Settle();
                if (conversation_.Unconsumed() == 0)
                    idleTimer_.stop();
                SendDue();
            },
            peer_);
    });
}

void TcpStandIn::Arrived(const QByteArray& bytes)
{
    if (gone_)
        return;
    standIn_.Guard(
        [&] {
            Conversation::Fed fed = conversation_.Feed(bytes);
            Take(fed);
            ArmIdle();
            SendDue(); // last: it may close the connection
        },
        peer_);
}

void TcpStandIn::Closed()
{
    if (gone_)
        return;
    gone_ = true;
    Settle(); // what came before the close is answered, or told as not sent
    replyTimer_.stop();
    idleTimer_.stop();
    for (const Waiting& waiting : waiting_) {
        if (waiting.answer.reply)
            standIn_.Line(NotSentLine(waiting.answer, QStringLiteral("the connection is closed")),
                          peer_);
    }
    waiting_.clear();
    // After a request whose rule closes the connection, what follows is neither answered nor
    // counted.
    if (!closing_)
        TellUnmatched(conversation_.DropUnconsumed());
}

void TcpStandIn::Take(Conversation::Fed& fed)
{
    standIn_.TellNotices(peer_);
    TellUnmatched(fed.overflow);
    for (Answer& answer : fed.answers)
        Queue(std::move(answer));
    if (fed.settleIn && !settleTimer_.isActive())
        settleTimer_.start(*fed.settleIn);
}

void TcpStandIn::Settle()
{
    settleTimer_.stop();
    Conversation::Fed fed = conversation_.Settle();
    Take(fed);
}

void TcpStandIn::Queue(Answer answer)
{
    closing_ = closing_ || answer.close;
    const QDeadlineTimer due(answer.delay, Qt::PreciseTimer);
    waiting_.push_back({due, std::move(answer)});
}

void TcpStandIn::SendDue()
{
    while (!waiting_.empty() && waiting_.front().due.hasExpired()) {
        const Answer answer = std::move(waiting_.front().answer);
        waiting_.pop_front();
        if (!SendOne(answer))
            return;
    }
    if (!waiting_.empty())
        replyTimer_.start(std::max<qint64>(0, waiting_.front().due.remainingTime()));
}

// False once the rule has closed the connection: this object may be on its way out.
bool TcpStandIn::SendOne(const Answer& answer)
{
    if (answer.reply) {
        standIn_.TellReply(answer, send_(*answer.reply), peer_);
    }
    if (!answer.close)
        return true;
    waiting_.clear();
    idleTimer_.stop();
    settleTimer_.stop();
    close_();
    return false;
}

// Bytes behind a request whose rule closes the connection are neither answered nor dropped.
void TcpStandIn::ArmIdle()
{
    if (conversation_.Unconsumed() > 0 && !closing_)
        idleTimer_.start(standIn_.TheResponder().Rules().idle);
    else
        idleTimer_.stop();
}

void TcpStandIn::DropIdleBytes()
{
    Settle();
    if (!closing_)
        TellUnmatched(conversation_.DropUnconsumed());
    SendDue(); // last: it may close the connection
}

void TcpStandIn::TellUnmatched(qsizetype bytes)
{
    if (bytes > 0)
        standIn_.Line(QStringLiteral("UNMATCHED[%1]").arg(bytes), peer_);
}

#include "replay/player.h"

#include "replay/exchanges.h"

#include <QElapsedTimer>

#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using Kind = ReplayLink::Got::Kind;
using Result = PlayOutcome::Result;

// Bytes kept beyond the captured answer: a peer that floods must not take all memory.
constexpr qsizetype kMostBeyond = 1 << 20;

QString HexByte(int byte)
{
    return QStringLiteral("0x") + QString::number(byte, 16).rightJustified(2, u'0').toUpper();
}

int FirstByte(const QByteArray& bytes)
{
    return bytes.isEmpty() ? -1 : quint8(bytes[0]);
}

PlayOutcome Failure(Result result, const QString& message)
{
    PlayOutcome outcome;
    outcome.result = result;
    outcome.message = message;
    return outcome;
}

// When the captured gap after `from` ends at the replay's speed; none without gaps.
std::optional<Clock::time_point> GapEnd(Clock::time_point from, qint64 gapNs, double speed)
{
    if (speed <= 0 || gapNs <= 0)
        return std::nullopt;
    return from + std::chrono::nanoseconds(qint64(double(gapNs) / speed));
}

// Replays one conversation on its link, exchange by exchange, in lockstep with the peer. What
// comes after an answer is complete, until the next payload goes, still belongs to it.
class ConversationPlayer {
public:
    ConversationPlayer(const Conversation& conversation, const ReplayPace& pace, ReplayLink& link)
        : conversation_(conversation), pace_(pace), link_(link)
    {
    }

    PlayOutcome Play();

private:
    std::optional<PlayOutcome> Turn(const Exchange& exchange);
    std::optional<PlayOutcome> Send(const QByteArray& payload);
    std::optional<PlayOutcome> AwaitStream();
    bool Take(const QByteArray& bytes);
    PlayOutcome TooLong() const;
    std::optional<PlayOutcome> CheckStream(const QString& noByte);
    std::optional<PlayOutcome> AwaitDatagrams();
    std::optional<PlayOutcome> AwaitDatagram(size_t index, const QDeadlineTimer& deadline);
    std::optional<PlayOutcome> ExtraDatagram(const QByteArray& datagram);
    // Until the gap ends, takes what comes as more of the last answer.
    std::optional<PlayOutcome> WaitOut(qint64 gapNs);
    std::optional<PlayOutcome> AwaitClose();
    std::optional<PlayOutcome> Unusable(const ReplayLink::Got& reading) const;
    PlayOutcome Differs(const QString& where, const Divergence& divergence,
                        const QByteArray& expected, const QByteArray& received,
                        const QString& noByte) const;
    QString Where() const { return QStringLiteral("exchange %1").arg(number_); }
    QString NothingCame() const
    {
        return QStringLiteral("nothing came within %1 ms").arg(pace_.timeout.count());
    }
    QByteArray Expected(size_t index = 0) const
    {
        return index < expected_.size() ? expected_[index] : QByteArray();
    }

    const Conversation& conversation_;
    const ReplayPace& pace_;
    ReplayLink& link_;
    int number_ = 0;     // the payload under way; 0 before the first (a greeting)
    QByteArray request_; // and its bytes
    bool peerClosed_ = false;
    Clock::time_point lastDone_;
    std::vector<QByteArray> expected_; // the answer under way, as captured
    QByteArray streamGot_;             // TCP: what came of it
};

PlayOutcome ConversationPlayer::Play()
{
    QElapsedTimer clock;
    clock.start();
    lastDone_ = Clock::now();
    std::optional<PlayOutcome> failure;
    for (const Exchange& exchange : ExchangesOf(conversation_)) {
        if ((failure = Turn(exchange)))
            break;
    }
    if (!failure && conversation_.tcp && conversation_.serverClosedFirst && !peerClosed_)
        failure = AwaitClose();
    else if (!failure && !conversation_.chunks.empty()) // the captured tail, at most a timeout
        failure =
            WaitOut(std::min<qint64>(conversation_.lastNs - conversation_.chunks.back().nanoseconds,
                                     std::chrono::nanoseconds(pace_.timeout).count()));
    PlayOutcome outcome = failure.value_or(PlayOutcome());
    outcome.nanoseconds = clock.nsecsElapsed();
    if (outcome.result != Result::Passed) {
        outcome.request = request_;
        link_.Note(outcome.message);
    }
    return outcome;
}

std::optional<PlayOutcome> ConversationPlayer::Turn(const Exchange& exchange)
{
    if (exchange.sends) {
        if (auto failure = WaitOut(exchange.gapNs))
            return failure;
        ++number_;
        request_ = exchange.payload;
        if (auto failure = Send(exchange.payload))
            return failure;
    }
    expected_ = exchange.answers;
    streamGot_.clear();
    std::optional<PlayOutcome> failure = conversation_.tcp ? AwaitStream() : AwaitDatagrams();
    lastDone_ = Clock::now();
    return failure;
}

std::optional<PlayOutcome> ConversationPlayer::Send(const QByteArray& payload)
{
    if (peerClosed_)
        return Failure(Result::Failed,
                       Where() + QStringLiteral(": the peer had closed the connection"));
    const ReplayLink::Got sent = link_.Send(payload);
    if (sent.kind == Kind::Bytes)
        return std::nullopt;
    return Failure(sent.kind == Kind::Refused ? Result::Unreachable : Result::Failed,
                   Where() + QStringLiteral(": not sent: ") + sent.why);
}

// Reads until the answer has the captured length (or, with a pattern to ignore, its shape),
// then takes what has come beyond it. Checked, it fails as soon as what came can no longer be
// the captured answer, and past kMostBeyond bytes beyond it.
std::optional<PlayOutcome> ConversationPlayer::AwaitStream()
{
    const QByteArray expected = Expected();
    const QDeadlineTimer deadline(pace_.timeout);
    ReplayLink::Got reading;
    reading.kind = Kind::Bytes;
    const auto complete = [&] {
        return streamGot_.size() >= expected.size() ||
               (!streamGot_.isEmpty() && pace_.mask.HasShapeOf(expected, streamGot_));
    };
    while (reading.kind == Kind::Bytes) {
        const QDeadlineTimer wait = complete() ? QDeadlineTimer(0) : deadline;
        const qsizetype before = streamGot_.size();
        reading = link_.Receive(wait);
        const bool kept = Take(reading.bytes);
        if (pace_.check) {
            if (const auto divergence = pace_.mask.LastingDivergence(expected, streamGot_, before))
                return Differs(Where() + QStringLiteral(", answer"), *divergence, expected,
                               streamGot_, {});
            if (!kept)
                return TooLong();
        }
        if (!kept)
            break;
    }
    const bool late = reading.kind == Kind::TimedOut && !complete();
    peerClosed_ = peerClosed_ || reading.kind == Kind::Closed;
    if (auto failure = Unusable(reading))
        return failure;
    return CheckStream(peerClosed_ ? QStringLiteral("the peer closed the connection")
                       : late      ? NothingCame()
                                   : QStringLiteral("the answer ended"));
}

// Adds to the answer under way, up to kMostBeyond bytes beyond the captured one; false once
// that is reached (what came beyond it is dropped).
bool ConversationPlayer::Take(const QByteArray& bytes)
{
    streamGot_ += bytes;
    const qsizetype most = Expected().size() + kMostBeyond;
    if (streamGot_.size() <= most)
        return true;
    streamGot_.truncate(most);
    return false;
}

// An answer that went on past kMostBeyond, which a pattern to ignore took for the captured one.
PlayOutcome ConversationPlayer::TooLong() const
{
    const QByteArray expected = Expected();
    const Divergence beyond{expected.size(), -1, quint8(streamGot_[expected.size()])};
    PlayOutcome outcome = Differs(Where() + QStringLiteral(", answer"),
                                  pace_.mask.FirstDivergence(expected, streamGot_).value_or(beyond),
                                  expected, streamGot_, {});
    outcome.message += QStringLiteral(" (it went on past %1 bytes)").arg(streamGot_.size());
    return outcome;
}

std::optional<PlayOutcome> ConversationPlayer::CheckStream(const QString& noByte)
{
    const QByteArray expected = Expected();
    if (pace_.check) {
        if (const auto divergence = pace_.mask.FirstDivergence(expected, streamGot_))
            return Differs(Where() + QStringLiteral(", answer"), *divergence, expected, streamGot_,
                           noByte);
    } else if (streamGot_.size() != expected.size()) {
        link_.Note(QStringLiteral("%1: %2 bytes of an answer captured with %3")
                       .arg(Where())
                       .arg(streamGot_.size())
                       .arg(expected.size()));
    }
    return std::nullopt;
}

std::optional<PlayOutcome> ConversationPlayer::AwaitDatagrams()
{
    const QDeadlineTimer deadline(pace_.timeout);
    for (size_t i = 0; i < expected_.size() && !(i > 0 && deadline.hasExpired()); ++i) {
        if (auto failure = AwaitDatagram(i, deadline))
            return failure;
    }
    // Extra datagrams already waiting, until none is or, from a peer that keeps sending, the
    // time is up.
    for (bool first = true; first || !deadline.hasExpired(); first = false) {
        const ReplayLink::Got extra = link_.Receive(QDeadlineTimer(0));
        if (auto failure = Unusable(extra))
            return failure;
        if (extra.kind != Kind::Bytes)
            return std::nullopt;
        if (auto failure = ExtraDatagram(extra.bytes))
            return failure;
    }
    return std::nullopt;
}

std::optional<PlayOutcome> ConversationPlayer::AwaitDatagram(size_t index,
                                                             const QDeadlineTimer& deadline)
{
    const QString where = QStringLiteral("%1, answer datagram %2 of %3")
                              .arg(Where())
                              .arg(index + 1)
                              .arg(expected_.size());
    const ReplayLink::Got reading = link_.Receive(deadline);
    if (auto failure = Unusable(reading))
        return failure;
    const QByteArray expected = Expected(index);
    if (reading.kind != Kind::Bytes) {
        if (pace_.check)
            return Differs(where, Divergence{0, FirstByte(expected), -1}, expected, {},
                           NothingCame());
        link_.Note(where + QStringLiteral(": ") + NothingCame());
        return std::nullopt;
    }
    if (!pace_.check)
        return std::nullopt;
    if (const auto divergence = pace_.mask.FirstDivergence(expected, reading.bytes))
        return Differs(where, *divergence, expected, reading.bytes,
                       QStringLiteral("the datagram ended"));
    return std::nullopt;
}

std::optional<PlayOutcome> ConversationPlayer::ExtraDatagram(const QByteArray& datagram)
{
    expected_.emplace_back(); // counted, so a second one is named as such
    const QString where = QStringLiteral("%1, answer datagram %2 of %3")
                              .arg(Where())
                              .arg(expected_.size())
                              .arg(expected_.size() - 1);
    if (pace_.check)
        return Differs(where, Divergence{0, -1, FirstByte(datagram)}, {}, datagram, {});
    link_.Note(where);
    return std::nullopt;
}

std::optional<PlayOutcome> ConversationPlayer::WaitOut(qint64 gapNs)
{
    const std::optional<Clock::time_point> end = GapEnd(lastDone_, gapNs, pace_.speed);
    if (!end || *end <= Clock::now() || peerClosed_)
        return std::nullopt;
    link_.Idle();
    const QDeadlineTimer deadline(*end, Qt::PreciseTimer);
    for (;;) {
        const ReplayLink::Got reading = link_.Receive(deadline);
        if (reading.kind == Kind::Closed)
            peerClosed_ = true;
        if (auto failure = Unusable(reading))
            return failure;
        if (reading.kind != Kind::Bytes)
            return std::nullopt;
        if (!conversation_.tcp) {
            if (auto failure = ExtraDatagram(reading.bytes))
                return failure;
            continue;
        }
        const bool kept = Take(reading.bytes);
        if (auto failure = CheckStream({}))
            return failure;
        if (!kept && pace_.check)
            return TooLong();
    }
}

// The captured server closed first: the peer must close too, with nothing more.
std::optional<PlayOutcome> ConversationPlayer::AwaitClose()
{
    const QDeadlineTimer deadline(pace_.timeout);
    ReplayLink::Got reading;
    while ((reading = link_.Receive(deadline)).kind == Kind::Bytes) {
        const bool kept = Take(reading.bytes);
        if (auto failure = CheckStream({}))
            return failure;
        if (!kept && pace_.check)
            return TooLong();
    }
    // A reset closes it too, as the captured server's may have.
    if (pace_.check && reading.kind == Kind::TimedOut)
        return Failure(Result::Failed,
                       QStringLiteral("%1: the peer did not close the connection within %2 ms, as "
                                      "the captured server did")
                           .arg(Where())
                           .arg(pace_.timeout.count()));
    return std::nullopt;
}

// A reading that ends the conversation: the peer refused (UDP) or the socket failed.
std::optional<PlayOutcome> ConversationPlayer::Unusable(const ReplayLink::Got& reading) const
{
    if (reading.kind == Kind::Refused)
        return Failure(Result::Unreachable, Where() + QStringLiteral(": ") + reading.why);
    if (reading.kind == Kind::Failed)
        return Failure(Result::Failed, Where() + QStringLiteral(": ") + reading.why);
    return std::nullopt;
}

PlayOutcome ConversationPlayer::Differs(const QString& where, const Divergence& divergence,
                                        const QByteArray& expected, const QByteArray& received,
                                        const QString& noByte) const
{
    const QString was =
        divergence.expected < 0 ? QStringLiteral("nothing more") : HexByte(divergence.expected);
    const QString is = divergence.received < 0
                           ? noByte
                           : QStringLiteral("received ") + HexByte(divergence.received);
    PlayOutcome outcome = Failure(Result::Failed, QStringLiteral("%1 at offset %2: expected %3, %4")
                                                      .arg(where)
                                                      .arg(divergence.offset)
                                                      .arg(was, is));
    outcome.expected = expected;
    outcome.received = received;
    outcome.offset = divergence.offset;
    return outcome;
}

PlayOutcome PlayOne(const Conversation& conversation, const ReplayPace& pace,
                    const LinkOpener& open)
{
    if (!conversation.established)
        return Failure(Result::Skipped, QStringLiteral("the captured server never accepted it"));
    QString why;
    const std::unique_ptr<ReplayLink> link = open(conversation, why);
    if (!link)
        return Failure(Result::Unreachable, why);
    return ConversationPlayer(conversation, pace, *link).Play();
}

} // namespace

std::vector<PlayOutcome> PlayConversations(const std::vector<Conversation>& conversations,
                                           const ReplayPace& pace, const LinkOpener& open)
{
    std::vector<PlayOutcome> outcomes;
    Clock::time_point previousEnd = Clock::now();
    for (size_t i = 0; i < conversations.size(); ++i) {
        if (i > 0) {
            const auto end = GapEnd(
                previousEnd, conversations[i].firstNs - conversations[i - 1].lastNs, pace.speed);
            if (end)
                std::this_thread::sleep_until(*end);
        }
        outcomes.push_back(PlayOne(conversations[i], pace, open));
        previousEnd = Clock::now();
    }
    return outcomes;
}

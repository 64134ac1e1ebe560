#include "cli/exchange.h"

#include "cli/recordedlink.h"
#include "cli/transcript.h"

namespace {

Awaited Failure(Awaited::Kind kind, const QByteArray& received, const QString& why)
{
    Awaited awaited;
    awaited.kind = kind;
    awaited.received = received;
    awaited.why = why;
    return awaited;
}

Awaited Taken(const QByteArray& answer, const Captures& captures)
{
    Awaited awaited;
    awaited.kind = Awaited::Kind::Matched;
    awaited.answer = answer;
    awaited.captures = captures;
    return awaited;
}

Awaited NotRead(const Reading& reading, const QByteArray& received,
                std::chrono::milliseconds timeout)
{
    switch (reading.kind) {
    case Reading::Kind::TimedOut:
        return Failure(Awaited::Kind::TimedOut, received,
                       (received.isEmpty() ? QStringLiteral("no answer within %1ms")
                                           : QStringLiteral("no matching answer within %1ms"))
                           .arg(timeout.count()));
    case Reading::Kind::Closed:
        return Failure(Awaited::Kind::Closed, received,
                       QStringLiteral("the peer closed the connection"));
    case Reading::Kind::Refused:
        return Failure(Awaited::Kind::Unreachable, received,
                       QStringLiteral("nothing answers there: ") + reading.why);
    default:
        return Failure(Awaited::Kind::Failed, received, reading.why);
    }
}

Awaited Mismatch(const Expectation& expectation, const QByteArray& received, bool whole,
                 const Scope* bound, const QString& why)
{
    Awaited awaited = Failure(Awaited::Kind::Mismatch, received, why);
    awaited.offset = expectation.FirstDifference(received, whole, bound).offset;
    return awaited;
}

Awaited AwaitDatagram(RecordedLink& link, const Expectation* expectation,
                      std::chrono::milliseconds timeout, const Scope* bound)
{
    const Reading reading = link.Receive(QDeadlineTimer(timeout, Qt::PreciseTimer));
    if (reading.kind != Reading::Kind::Bytes)
        return NotRead(reading, {}, timeout);
    if (!expectation)
        return Taken(reading.bytes, {});
    const MatchResult result = expectation->Match(reading.bytes, true, bound);
    if (result.matched())
        return Taken(reading.bytes, result.captures);
    return Mismatch(*expectation, reading.bytes, true, bound,
                    result.status == MatchResult::Status::OverLimit
                        ? QStringLiteral("the expectation went over its match limit")
                        : QStringLiteral("the answer does not match"));
}

// The expectation against what came so far: taken, given up on, or none yet.
std::optional<Awaited> Judge(const Expectation& expectation, QByteArray& pending,
                             const Scope* bound)
{
    const MatchResult result = expectation.Match(pending, false, bound);
    if (result.matched()) {
        Awaited taken = Taken(pending.left(result.length), result.captures);
        pending.remove(0, result.length);
        return taken;
    }
    if (result.status == MatchResult::Status::OverLimit)
        return Mismatch(expectation, pending, false, bound,
                        QStringLiteral("the expectation went over its match limit"));
    if (expectation.FirstDifference(pending, false, bound).definite)
        return Mismatch(expectation, pending, false, bound,
                        QStringLiteral("the answer does not match"));
    if (pending.size() >= kMostUnmatched)
        return Failure(Awaited::Kind::TooLong, pending,
                       QStringLiteral("the answer reached the 1 MiB limit before the pattern "
                                      "matched"));
    return std::nullopt;
}

} // namespace

Awaited AwaitAnswer(RecordedLink& link, const Expectation* expectation, QByteArray& pending,
                    std::chrono::milliseconds timeout, const Scope* bound)
{
    if (link.TheTarget().Udp())
        return AwaitDatagram(link, expectation, timeout, bound);
    const QDeadlineTimer deadline(timeout, Qt::PreciseTimer);
    for (;;) {
        if (!pending.isEmpty() && !expectation)
            return Taken(std::exchange(pending, QByteArray()), {});
        if (!pending.isEmpty()) {
            if (std::optional<Awaited> judged = Judge(*expectation, pending, bound))
                return *judged;
        }
        const Reading reading = link.Receive(deadline);
        if (reading.kind != Reading::Kind::Bytes) {
            Awaited failed = NotRead(reading, pending, timeout);
            if (expectation)
                failed.offset = expectation->FirstDifference(pending, false, bound).offset;
            return failed;
        }
        pending += reading.bytes;
    }
}

#include "rules/responder.h"

#include <QHash>

Responder::Responder(RuleSet rules) : rules_(std::move(rules)), hits_(rules_.rules.size(), 0)
{
    state_.Declare(rules_.state);
}

void Responder::Reload(RuleSet rules)
{
    QHash<QString, quint64> previous;
    for (size_t i = 0; i < rules_.rules.size(); ++i)
        previous.insert(rules_.rules[i].name, hits_[i]);
    rules_ = std::move(rules);
    hits_.assign(rules_.rules.size(), 0);
    for (size_t i = 0; i < rules_.rules.size(); ++i)
        hits_[i] = previous.value(rules_.rules[i].name, 0);
    state_.Declare(rules_.state);
    ++changes_;
    // The rules may have changed, so a rule over its limit is worth a word again.
    noticed_.clear();
}

Answer Responder::AnswerDatagram(QByteArrayView datagram, const QHostAddress& peer, quint16 port)
{
    Q_UNUSED(port) // no rule looks at ports yet
    for (size_t i = 0; i < rules_.rules.size(); ++i) {
        const Rule& rule = rules_.rules[i];
        if (!rule.Accepts(Protocol::Udp, peer))
            continue;
        if (!rule.match)
            return Respond(int(i), datagram, Captures());
        const MatchResult result = rule.match->Match(datagram, MatchMode::Whole, &state_);
        if (result.matched())
            return Respond(int(i), datagram, result.captures);
        NoteOverLimit(int(i), result);
    }
    CountUnmatched();
    Answer none;
    none.request = datagram.toByteArray();
    return none;
}

Conversation Responder::Converse(const QHostAddress& peer, quint16 port)
{
    Q_UNUSED(port)
    return Conversation(*this, peer);
}

std::optional<Answer> Responder::AnswerStream(QByteArrayView unconsumed, const QHostAddress& peer,
                                              qsizetype searched, qint64& steps)
{
    for (size_t i = 0; i < rules_.rules.size(); ++i) {
        const Rule& rule = rules_.rules[i];
        if (!rule.Accepts(Protocol::Tcp, peer))
            continue;
        // With nothing to match, a rule takes all that has come, as one request.
        if (!rule.match)
            return Respond(int(i), unconsumed, Captures());
        const MatchResult result =
            rule.match->Match(unconsumed, MatchMode::Prefix, &state_, searched);
        steps += result.steps;
        if (result.matched())
            return Respond(int(i), unconsumed.first(result.length), result.captures);
        NoteOverLimit(int(i), result);
    }
    return std::nullopt;
}

Answer Responder::Respond(int rule, QByteArrayView request, const Captures& captures)
{
    const Rule& matched = rules_.rules[size_t(rule)];
    const quint64 hits = ++hits_[size_t(rule)];
    CaptureScope scope(captures, hits, &state_);
    for (const Assignment& assignment : matched.sets)
        NoteCut(rule, QStringLiteral("its set stopped short"), state_.Apply(assignment, scope));
    changes_ += matched.sets.empty() ? 0 : 1;
    Answer answer;
    answer.rule = rule;
    answer.ruleName = matched.name;
    answer.delay = matched.delay;
    answer.close = matched.close;
    answer.request = request.toByteArray();
    if (!matched.replies.empty()) {
        const ReplyTemplate& reply = matched.replies[(hits - 1) % matched.replies.size()];
        QString cut;
        answer.reply = reply.Render(request, captures, hits, &state_, &cut);
        if (!cut.isEmpty()) // the words cost an allocation: not for every reply
            NoteCut(rule,
                    QStringLiteral("its reply was cut short at %1 bytes").arg(answer.reply->size()),
                    cut);
    }
    return answer;
}

// Said once a rule, like a limit reached in matching: the rules are what is wrong, not the peer.
void Responder::NoteCut(int rule, const QString& what, const QString& reason)
{
    const QString& name = rules_.rules[size_t(rule)].name;
    if (reason.isEmpty() || !NoticeOnce(QStringLiteral("cut ") + name))
        return;
    notices_ << QStringLiteral("Rules Err: rule \"%1\": %2: %3.").arg(name, what, reason);
}

bool Responder::NoticeOnce(const QString& key)
{
    if (noticed_.contains(key))
        return false;
    noticed_.insert(key);
    return true;
}

void Responder::NoteOverLimit(int rule, const MatchResult& result)
{
    const QString& name = rules_.rules[size_t(rule)].name;
    if (result.status != MatchResult::Status::OverLimit ||
        !NoticeOnce(QStringLiteral("limit ") + name))
        return;
    const QString what = result.expressionOverLimit
                             ? QStringLiteral("the expression went over its match limit")
                             : QStringLiteral("the search for a match went over its step limit");
    notices_ << QStringLiteral("Rules Err: rule \"%1\": %2; taken as no match.").arg(name, what);
}

QString Responder::SummaryLine() const
{
    QStringList parts;
    for (size_t i = 0; i < rules_.rules.size(); ++i)
        parts << QStringLiteral("%1 %2").arg(rules_.rules[i].name).arg(hits_[i]);
    parts << QStringLiteral("(none) %1").arg(unmatched_);
    const QString line = QStringLiteral("RULES: ") + parts.join(QStringLiteral(", "));
    return state_.IsEmpty() ? line : line + QStringLiteral("; state: ") + state_.Summary();
}

QStringList Responder::TakeNotices()
{
    return std::exchange(notices_, QStringList());
}

Conversation::Fed Conversation::Feed(QByteArrayView bytes)
{
    Fed fed;
    Earn(kCreditPerArrival + kCreditPerByte * bytes.size());
    while (!closed_) {
        const qsizetype room = kMaxUnconsumed - buffer_.size();
        const qsizetype taken = std::min(room, bytes.size());
        buffer_.append(bytes.first(taken));
        bytes = bytes.sliced(taken);
        // A full buffer is searched whatever the credit, or what follows would be dropped.
        if (credit_ >= 0 || buffer_.size() >= kMaxUnconsumed)
            AnswerWaiting(fed.answers);
        if (bytes.isEmpty())
            break;
        if (buffer_.size() >= kMaxUnconsumed) { // full of bytes no rule takes yet
            fed.overflow = bytes.size();
            unmatchedBytes_ += quint64(bytes.size());
            responder_->CountUnmatched();
            break;
        }
    }
    fed.settleIn = SettleIn();
    return fed;
}

Conversation::Fed Conversation::Settle()
{
    Fed fed;
    Earn(0);
    if (!closed_)
        AnswerWaiting(fed.answers);
    return fed;
}

void Conversation::AnswerWaiting(std::vector<Answer>& answers)
{
    if (!Untried())
        return;
    qsizetype searched = searchedAt_ == responder_->Changes() ? searched_ : 0;
    qsizetype consumed = 0;
    while (consumed < buffer_.size()) {
        qint64 steps = 0;
        std::optional<Answer> answer = responder_->AnswerStream(
            QByteArrayView(buffer_).sliced(consumed), peer_, searched, steps);
        credit_ -= steps;
        if (!answer)
            break;
        searched = 0;
        consumed += answer->request.size();
        const bool close = answer->close;
        answers.push_back(std::move(*answer));
        // The connection ends with this reply: what follows is never answered, nor counted.
        if (close) {
            closed_ = true;
            break;
        }
    }
    // Once per read rather than once per request: many small requests would make it quadratic.
    buffer_.remove(0, consumed);
    searched_ = buffer_.size();
    searchedAt_ = responder_->Changes();
}

bool Conversation::Untried() const
{
    return buffer_.size() > searched_ ||
           (!buffer_.isEmpty() && searchedAt_ != responder_->Changes());
}

void Conversation::Earn(qint64 credit)
{
    using namespace std::chrono;
    const steady_clock::time_point now = steady_clock::now();
    const qint64 rested = duration_cast<milliseconds>(now - earned_).count();
    earned_ += milliseconds(rested); // the part of a millisecond not yet earned stays
    credit_ = std::min(kMostCredit, credit_ + credit + rested * kCreditPerMs);
}

std::optional<std::chrono::milliseconds> Conversation::SettleIn() const
{
    if (closed_ || !Untried())
        return std::nullopt;
    return std::chrono::milliseconds(std::max<qint64>(1, -credit_ / kCreditPerMs + 1));
}

qsizetype Conversation::DropUnconsumed()
{
    const qsizetype dropped = buffer_.size();
    if (dropped > 0) {
        unmatchedBytes_ += quint64(dropped);
        responder_->CountUnmatched();
    }
    buffer_.clear();
    searched_ = 0;
    return dropped;
}

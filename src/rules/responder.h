#pragma once

#include "rules/rulesfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

struct Answer {
    int rule = -1; // index in the rule set; -1 when no rule matched
    QString ruleName;
    std::optional<QByteArray> reply; // none when no rule matched or the rule swallows requests
    std::chrono::milliseconds delay{0};
    bool close = false;
    QByteArray request; // the bytes the request took

    bool matched() const { return rule >= 0; }
};

class Conversation;

// Answers requests with a rule set and counts what each rule answered. It owns no timer and no
// socket: the caller waits the delays, sends, closes, and drops stale stream bytes. Not for use
// from more than one thread.
class Responder {
public:
    explicit Responder(RuleSet rules);

    // Swaps the rules in; open conversations keep their bytes and go on with the new rules. A
    // rule whose name remains keeps its hit count (its replies go on in turn), as does "(none)";
    // a state name that remains keeps its value.
    void Reload(RuleSet rules);
    const RuleSet& Rules() const { return rules_; }

    // A UDP datagram, matched whole.
    Answer AnswerDatagram(QByteArrayView datagram, const QHostAddress& peer, quint16 port);

    // A TCP connection's own buffer. It refers to this responder, so must not outlive it.
    Conversation Converse(const QHostAddress& peer, quint16 port);

    // "RULES: <name> <hits>, ..., (none) <n>", every rule in file order, then "; state: " and
    // the state's values when the rules keep any.
    QString SummaryLine() const;
    quint64 HitsOf(int rule) const { return hits_.at(size_t(rule)); }
    quint64 Unmatched() const { return unmatched_; }

    // Messages to show once, such as a rule whose matching went over its limit.
    QStringList TakeNotices();

    // Goes up whenever what a pattern may read besides the request changes: the state, the rules.
    quint64 Changes() const { return changes_; }

private:
    friend class Conversation;

    // The first rule matching a start of `unconsumed`, or none yet; no match ends within its
    // first `searched` bytes. Adds what the search cost to `steps`.
    std::optional<Answer> AnswerStream(QByteArrayView unconsumed, const QHostAddress& peer,
                                       qsizetype searched, qint64& steps);
    Answer Respond(int rule, QByteArrayView request, const Captures& captures);
    void NoteOverLimit(int rule, const MatchResult& result);
    void NoteCut(int rule, const QString& what, const QString& reason);
    bool NoticeOnce(const QString& key);
    void CountUnmatched() { ++unmatched_; }

    RuleSet rules_;
    std::vector<quint64> hits_;
    StandInState state_;
    quint64 unmatched_ = 0;
    quint64 changes_ = 0;
    QSet<QString> noticed_;
    QStringList notices_;
};

// The bytes of one TCP connection not yet taken by a request. Matching them costs the steps of
// Pattern's budget from a credit of this connection's own, earned back by the bytes that come
// and the time that passes. While in debt, new bytes wait for Settle: one peer's costly requests
// cannot take the thread from the others.
class Conversation {
public:
    // Bytes that arrive while this much is waiting unmatched are dropped.
    static constexpr qsizetype kMaxUnconsumed = 1 << 20;
    static constexpr qint64 kCreditPerArrival = 1024;
    static constexpr qint64 kCreditPerByte = 8;
    static constexpr qint64 kCreditPerMs = 2000;
    static constexpr qint64 kMostCredit = Pattern::kMatchBudget;

    struct Fed {
        std::vector<Answer> answers; // every request now complete, in order, up to one that closes
        qsizetype overflow = 0;      // bytes dropped unmatched for want of room
        // Bytes wait unmatched for want of credit: call Settle after this long.
        std::optional<std::chrono::milliseconds> settleIn;
    };

    Fed Feed(QByteArrayView bytes);
    // Matches the bytes still waiting for it, whatever the credit: when settleIn has passed,
    // and before giving up on the bytes or the connection.
    Fed Settle();

    // Gives up on the waiting bytes (the caller's idle time passed); returns how many.
    qsizetype DropUnconsumed();

    qsizetype Unconsumed() const { return buffer_.size(); }
    // Bytes of this connection dropped unmatched so far.
    quint64 UnmatchedBytes() const { return unmatchedBytes_; }

private:
    friend class Responder;
    Conversation(Responder& responder, const QHostAddress& peer)
        : responder_(&responder), peer_(peer)
    {
    }
    void AnswerWaiting(std::vector<Answer>& answers);
    // Bytes came, or what patterns read changed, since the last search.
    bool Untried() const;
    void Earn(qint64 credit);
    std::optional<std::chrono::milliseconds> SettleIn() const;

    Responder* responder_;
    QHostAddress peer_;
    QByteArray buffer_;
    qsizetype searched_ = 0; // no rule matches a start of the buffer's first bytes
    quint64 searchedAt_ = 0; // the responder's Changes() then
    qint64 credit_ = kMostCredit;
    std::chrono::steady_clock::time_point earned_ = std::chrono::steady_clock::now();
    quint64 unmatchedBytes_ = 0;
    bool closed_ = false; // a rule closed the connection: nothing more is answered
};

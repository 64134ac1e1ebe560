#pragma once

#include "rules/expression.h"
#include "rules/syntax.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

// What a request put in a pattern's captures, for the reply to use.
struct Captures {
    QHash<QString, QByteArray> named;
    QHash<QString, quint64> numbers; // bit fields, and little-endian captures read as numbers
    QList<QByteArray> groups;        // the expressions' groups in order: {1} is groups[0]
};

// What names mean while one reply is made or one rule's state set: a match's captures, the
// rule's hit counter, `index` inside a repeat, then whatever `outside` knows.
class CaptureScope : public Scope {
public:
    CaptureScope(const Captures& captures, quint64 counter, const Scope* outside)
        : captures_(captures), counter_(counter), outside_(outside)
    {
    }
    std::optional<QByteArray> Bytes(const QString& name) const override;
    std::optional<quint64> Number(const QString& name) const override;
    std::optional<quint64> State(const QString& name, std::optional<quint64> at) const override;

    std::optional<quint64> index;

private:
    const Captures& captures_;
    quint64 counter_;
    const Scope* outside_;
};

// Whole: a datagram, all of it. Prefix: the shortest non-empty start of a stream.
enum class MatchMode { Whole, Prefix };

struct MatchResult {
    enum class Status { Matched, NoMatch, OverLimit };
    Status status = Status::NoMatch;
    // With OverLimit: an expression ran out of its budget, rather than the pattern's own search.
    bool expressionOverLimit = false;
    qsizetype length = 0; // the bytes the match took
    Captures captures;
    qint64 steps = 0; // what the search cost, in the budget's steps

    bool matched() const { return status == Status::Matched; }
};

// The shape a request must have. Searching for a match costs steps from a fixed budget per
// attempt (kMatchBudget), expressions included, so hostile input gives up instead of hanging.
class Pattern {
public:
    static constexpr qint64 kMatchBudget = 2'000'000;

    // `outside` says which names the pattern may read besides its own earlier captures (a
    // script's variables, "counter", "state.reg"); their values come with each match.
    static std::optional<Pattern> Parse(QStringView text, TextEncoding encoding, SyntaxError& error,
                                        const std::function<bool(const QString&)>& outside = {});

    // In Prefix mode, `searched` says that no match ends within data's first `searched` bytes
    // (an earlier search of them found none), so a stream that grows is not searched again from
    // its start. A pattern with an expression searches again: it may look past its own match.
    MatchResult Match(QByteArrayView data, MatchMode mode, const Scope* outside = nullptr,
                      qsizetype searched = 0) const;

    bool HasCapture(const QString& name) const;
    // A bit field holds a number but no bytes of its own.
    bool IsBitField(const QString& name) const;
    int GroupCount() const;

    struct Data;

private:
    // The bytes of a pattern that is nothing but fixed bytes, as most rules of a stand-in are, so
    // that they are compared rather than searched; null for any other pattern.
    const QByteArray* FixedBytes() const;
    explicit Pattern(std::shared_ptr<const Data> data) : data_(std::move(data)) {}

    std::shared_ptr<const Data> data_;
};

#pragma once

#include "rules/syntax.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

// What a request put in a pattern's captures, for the reply to use.
struct Captures {
    QHash<QString, QByteArray> named;
    QList<QByteArray> groups; // the expressions' groups in order: {1} is groups[0]
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

    bool matched() const { return status == Status::Matched; }
};

// The shape a request must have. Searching for a match costs steps from a fixed budget per
// attempt (kMatchBudget), expressions included, so hostile input gives up instead of hanging.
class Pattern {
public:
    static constexpr qint64 kMatchBudget = 2'000'000;

    static std::optional<Pattern> Parse(QStringView text, TextEncoding encoding,
                                        SyntaxError& error);

    MatchResult Match(QByteArrayView data, MatchMode mode) const;

    bool HasCapture(const QString& name) const;
    int GroupCount() const;

    struct Data;

private:
    explicit Pattern(std::shared_ptr<const Data> data) : data_(std::move(data)) {}

    std::shared_ptr<const Data> data_;
};

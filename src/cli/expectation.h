#pragma once

#include "rules/pattern.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// Where an answer first departs from what was expected.
struct Difference {
    qsizetype offset = 0;
    // No byte still to come can make it match: waiting longer is of no use.
    bool definite = false;
};

// An answer the peer must give: a pattern, matched whole against a datagram and against the
// shortest start of a stream's bytes.
class Expectation {
public:
    // `known` names what the pattern may read that it does not capture itself: values given
    // or captured before, "counter" (the number of the send before it).
    static std::optional<Expectation> Parse(const QString& text, TextEncoding encoding,
                                            SyntaxError& error,
                                            const std::function<bool(const QString&)>& known = {});

    // `bound` holds the values of those names.
    MatchResult Match(QByteArrayView received, bool whole, const Scope* bound = nullptr) const;
    // Judged by the bytes the pattern fixes from its start (literal bytes, ?? and fixed-length
    // captures), up to its first part of open length; with `bound`, a name it gives fixes its
    // bytes too (an id sent that must come back).
    Difference FirstDifference(QByteArrayView received, bool whole,
                               const Scope* bound = nullptr) const;
    // The byte the fixed head holds at `offset`: -1 for any byte; none past the head.
    std::optional<int> HeadByte(qsizetype offset) const
    {
        return offset < qsizetype(head_.size()) ? std::optional<int>(head_[size_t(offset)])
                                                : std::nullopt;
    }
    QString Text() const { return text_; }
    // Whether a match sets the capture `name`.
    bool Captures(const QString& name) const { return pattern_.HasCapture(name); }

private:
    Expectation(Pattern pattern, QString text)
        : pattern_(std::move(pattern)), text_(std::move(text))
    {
    }
    // A name given from outside the pattern, then the fixed bytes that follow it.
    struct Reference {
        QString name;
        std::vector<int> after;
    };

    void ReadFixedHead(QStringView text, TextEncoding encoding);

    Pattern pattern_;
    QString text_;
    std::vector<int> head_;             // each byte the start must hold, -1 for any byte
    bool headIsAll_ = true;             // the pattern is its fixed head and nothing more
    std::vector<Reference> references_; // what follows the head when it ends at a reference
    bool referencesAreAll_ = true;      // ... and nothing more
};

#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <vector>

// A PCRE2 expression over bytes (no UTF), matched only at a given position.
class Regex {
public:
    enum class Outcome { Matched, NoMatch, OverLimit };

    // Null with a reason and the byte offset into the expression when it does not compile.
    static std::shared_ptr<const Regex> Compile(const QByteArray& expression, QString& error,
                                                qsizetype& errorOffset);

    int GroupCount() const { return groups_; }

    // Where the match ends, and (start, end) for every group, -1 for a group that took no part.
    // The work PCRE2 does is taken from `budget`; running it out is OverLimit.
    Outcome MatchAt(QByteArrayView subject, qsizetype start, qint64& budget, qsizetype& end,
                    std::vector<qsizetype>* groups) const;

    struct Code;

private:
    explicit Regex(std::shared_ptr<Code> code, int groups) : code_(std::move(code)), groups_(groups)
    {
    }
    enum class Attempt { Matched, NoMatch, OutOfSteps, OutOfMemory };
    Attempt MatchOnce(QByteArrayView subject, qsizetype start, qint64 limit, qsizetype& end,
                      std::vector<qsizetype>* groups) const;

    std::shared_ptr<Code> code_;
    int groups_ = 0;
};

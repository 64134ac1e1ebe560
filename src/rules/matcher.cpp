// The search for a match: element by element, trying the lengths of each run shortest first.
// Whether the elements from i on can match from position pos does not depend on how pos was
// reached (no element looks back at a capture), so after two runs, where many paths meet, each
// (i, pos) is worked out once, unless some element reads an earlier one (a length, a value, the
// same bytes again). Every step costs from a budget, so the search is bounded. A run followed by
// literal bytes ends only where they occur, so those are looked for rather than tried at every
// byte; and a stream searched before is searched again only past where its last search ended.
#include "rules/pattern_p.h"

#include <QHash>

#include <algorithm>

namespace {

constexpr qsizetype kNone = -1;
// Comparing or summing this many bytes costs one step.
constexpr qsizetype kBytesPerStep = 64;

class Matcher {
public:
    Matcher(const Pattern::Data& pattern, QByteArrayView data, MatchMode mode, const Scope* outside,
            qsizetype searched)
        : pattern_(pattern), data_(data), mode_(mode), size_(data.size()), outside_(outside),
          searched_(mode == MatchMode::Prefix && !pattern.looksAhead
                        ? std::max<qsizetype>(0, searched)
                        : 0),
          spans_(pattern.dependent ? pattern.elements.size() : 0, {0, 0})
    {
        // Most patterns have no checksum: they need not pay for a place to keep one.
        const auto checksum = [](const PatternElement& element) {
            return element.kind == PatternElement::Kind::Checksum;
        };
        if (std::any_of(pattern.elements.begin(), pattern.elements.end(), checksum)) {
            checksums_.reserve(pattern.elements.size());
            for (const PatternElement& element : pattern.elements)
                checksums_.push_back({RunningChecksum(element.checksum), 0});
        }
    }

    MatchResult Run()
    {
        MatchResult result;
        const qsizetype end = Solve(0, 0);
        result.steps = Spent();
        if (exhausted_)
            return OverLimit(result.steps);
        if (end == kNone)
            return result;
        result.status = MatchResult::Status::Matched;
        result.length = end;
        result.captures.groups.resize(pattern_.groupCount);
        // Finding the path again costs no more than finding it did.
        budget_ = Pattern::kMatchBudget;
        const bool collected = Collect(end, result.captures);
        result.steps += Spent();
        return collected ? result : OverLimit(result.steps);
    }

private:
    qint64 Spent() const { return Pattern::kMatchBudget - std::max<qint64>(budget_, 0); }

    MatchResult OverLimit(qint64 steps) const
    {
        MatchResult result;
        result.status = MatchResult::Status::OverLimit;
        result.expressionOverLimit = expressionOverLimit_;
        result.steps = steps;
        return result;
    }

    struct ChecksumSoFar {
        RunningChecksum checksum;
        qsizetype fedUpTo;
    };

    // The names of the elements before `upTo` on the path being tried, then those from outside.
    class PathScope : public Scope {
    public:
        PathScope(const Matcher& matcher, size_t upTo) : matcher_(matcher), upTo_(upTo) {}
        std::optional<QByteArray> Bytes(const QString& name) const override
        {
            for (size_t j = 0; j < upTo_; ++j) {
                if (matcher_.pattern_.elements[j].name == name)
                    return matcher_.Taken(j).toByteArray();
            }
            return matcher_.outside_ ? matcher_.outside_->Bytes(name) : std::nullopt;
        }
        std::optional<quint64> Number(const QString& name) const override
        {
            for (size_t j = 0; j < upTo_; ++j) {
                const PatternElement& element = matcher_.pattern_.elements[j];
                if (element.name == name)
                    return element.littleEndian ? LittleEndianValue(matcher_.Taken(j))
                                                : BigEndianValue(matcher_.Taken(j));
                for (const BitField& field : element.fields) {
                    if (field.name == name)
                        return matcher_.FieldValue(j, field);
                }
            }
            return matcher_.outside_ ? matcher_.outside_->Number(name) : std::nullopt;
        }
        std::optional<quint64> State(const QString& name,
                                     std::optional<quint64> index) const override
        {
            return matcher_.outside_ ? matcher_.outside_->State(name, index) : std::nullopt;
        }

    private:
        const Matcher& matcher_;
        size_t upTo_;
    };

    QByteArrayView Taken(size_t j) const
    {
        return data_.sliced(spans_[j].first, spans_[j].second - spans_[j].first);
    }

    quint64 FieldValue(size_t j, const BitField& field) const
    {
        const qsizetype start = spans_[j].first;
        quint64 value = 0;
        for (int bit = field.offset; bit < field.offset + field.bits; ++bit) {
            const auto byte = static_cast<unsigned char>(data_[start + bit / 8]);
            value = value << 1 | ((byte >> (7 - bit % 8)) & 1);
        }
        return value;
    }

    // The nearest end of a match of the elements from i on, starting at pos, or kNone.
    qsizetype Solve(size_t i, qsizetype pos)
    {
        if (!Spend(1) || pos + pattern_.minRest[i] > size_)
            return kNone;
        if (i == pattern_.elements.size())
            return mode_ == MatchMode::Whole ? (pos == size_ ? pos : kNone)
                                             : (pos > searched_ ? pos : kNone);
        const bool remembered = pattern_.runsBefore[i] >= 2 && !pattern_.dependent;
        const quint64 key = quint64(i) * quint64(size_ + 1) + quint64(pos);
        if (remembered) {
            const auto found = memo_.constFind(key);
            if (found != memo_.constEnd())
                return found.value();
        }
        const qsizetype end = SolveElement(i, pos);
        if (remembered && !exhausted_)
            memo_.insert(key, end);
        return end;
    }

    qsizetype SolveElement(size_t i, qsizetype pos)
    {
        const PatternElement& element = pattern_.elements[i];
        if (element.kind == PatternElement::Kind::Run)
            return SolveRun(i, pos);
        const qsizetype next = NextPosition(i, pos);
        if (next == kNone)
            return kNone;
        if (!spans_.empty())
            spans_[i] = {pos, next};
        return Solve(i + 1, next);
    }

    qsizetype SizedEnd(size_t i, qsizetype pos) const
    {
        const quint64 length = pattern_.elements[i].length->Evaluate(PathScope(*this, i));
        return length <= quint64(size_ - pos) ? pos + qsizetype(length) : kNone;
    }

    bool BitsMatch(size_t i, qsizetype pos)
    {
        spans_[i] = {pos, pos + pattern_.elements[i].count};
        const PathScope scope(*this, i + 1);
        for (const BitField& field : pattern_.elements[i].fields) {
            if (!field.value)
                continue;
            const quint64 mask = field.bits == 64 ? ~quint64(0) : (quint64(1) << field.bits) - 1;
            if ((field.value->Evaluate(scope) & mask) != FieldValue(i, field))
                return false;
        }
        return true;
    }

    qsizetype ReferenceEnd(size_t i, qsizetype pos)
    {
        const std::optional<QByteArray> bytes =
            PathScope(*this, i).Bytes(pattern_.elements[i].name);
        if (!bytes || bytes->size() > size_ - pos || !Spend(bytes->size() / kBytesPerStep))
            return kNone;
        return data_.sliced(pos, bytes->size()) == QByteArrayView(*bytes) ? pos + bytes->size()
                                                                          : kNone;
    }

    qsizetype ComputedEnd(size_t i, qsizetype pos) const
    {
        const PatternElement& element = pattern_.elements[i];
        QByteArray expected;
        AppendNumber(expected, element.value->Evaluate(PathScope(*this, i)), int(element.count),
                     element.littleEndian);
        return data_.sliced(pos, element.count) == QByteArrayView(expected) ? pos + element.count
                                                                            : kNone;
    }

    // Where a fixed element or an expression at pos ends, or kNone when it does not match there.
    qsizetype NextPosition(size_t i, qsizetype pos, std::vector<qsizetype>* groups = nullptr)
    {
        const PatternElement& element = pattern_.elements[i];
        switch (element.kind) {
        case PatternElement::Kind::Literal:
            if (!Spend(element.literal.size() / kBytesPerStep))
                return kNone;
            return data_.sliced(pos, element.literal.size()) == QByteArrayView(element.literal)
                       ? pos + element.literal.size()
                       : kNone;
        case PatternElement::Kind::AnyBytes:
            return pos + element.count;
        case PatternElement::Kind::Capture:
            return element.length ? SizedEnd(i, pos) : pos + element.count;
        case PatternElement::Kind::Bits:
            return BitsMatch(i, pos) ? pos + element.count : kNone;
        case PatternElement::Kind::Reference:
            return ReferenceEnd(i, pos);
        case PatternElement::Kind::Computed:
            return ComputedEnd(i, pos);
        case PatternElement::Kind::Checksum:
            return ChecksumAt(i, pos) ? pos + ChecksumWidth(element.checksum) : kNone;
        case PatternElement::Kind::Regex:
            return RegexEnd(element, pos, groups);
        case PatternElement::Kind::Run:
            break;
        }
        return kNone;
    }

    // The lengths of a run, shortest first; a longer one is only tried while it could still
    // end the match sooner.
    qsizetype SolveRun(size_t i, qsizetype pos)
    {
        const qsizetype restMin = pattern_.minRest[i + 1];
        const qsizetype last = size_ - restMin;
        qsizetype best = kNone;
        for (qsizetype next = RunEnd(i, FirstRunEnd(i, pos), last); next != kNone && !exhausted_;
             next = RunEnd(i, next + 1, last)) {
            if (best != kNone && next + restMin >= best)
                break;
            if (!spans_.empty())
                spans_[i] = {pos, next};
            const qsizetype end = Solve(i + 1, next);
            if (end != kNone && (best == kNone || end < best))
                best = end;
        }
        return exhausted_ ? kNone : best;
    }

    // The shortest length worth trying for run i from pos: when the rest has one length, it
    // fixes the run's in a whole match, and a prefix match must end past what was searched.
    qsizetype FirstRunEnd(size_t i, qsizetype pos) const
    {
        if (!pattern_.fixedRest[i + 1])
            return pos;
        const qsizetype restMin = pattern_.minRest[i + 1];
        if (mode_ == MatchMode::Whole)
            return std::max(pos, size_ - restMin);
        return std::max(pos, searched_ - restMin + 1);
    }

    // The first end of run i from `next` up to `last` where the element after it may start.
    qsizetype RunEnd(size_t i, qsizetype next, qsizetype last)
    {
        if (next > last)
            return kNone;
        if (i + 1 == pattern_.elements.size())
            return next;
        const PatternElement& following = pattern_.elements[i + 1];
        if (following.kind != PatternElement::Kind::Literal || following.literal.isEmpty())
            return next;
        const qsizetype found = data_.indexOf(QByteArrayView(following.literal), next);
        const qsizetype scanned = (found < 0 ? size_ : found) - next;
        if (!Spend(scanned / kBytesPerStep) || found < 0 || found > last)
            return kNone;
        return found;
    }

    bool ChecksumAt(size_t i, qsizetype pos)
    {
        ChecksumSoFar& sofar = checksums_[i];
        if (pos < sofar.fedUpTo) {
            sofar.checksum.Reset();
            sofar.fedUpTo = 0;
        }
        if (!Spend((pos - sofar.fedUpTo) / kBytesPerStep))
            return false;
        sofar.checksum.Add(data_.sliced(sofar.fedUpTo, pos - sofar.fedUpTo));
        sofar.fedUpTo = pos;
        const QByteArray expected = sofar.checksum.Bytes();
        return data_.sliced(pos, expected.size()) == QByteArrayView(expected);
    }

    qsizetype RegexEnd(const PatternElement& element, qsizetype pos, std::vector<qsizetype>* groups)
    {
        qsizetype end = kNone;
        switch (element.regex->MatchAt(data_, pos, budget_, end, groups)) {
        case Regex::Outcome::Matched:
            return end;
        case Regex::Outcome::NoMatch:
            return kNone;
        case Regex::Outcome::OverLimit:
            exhausted_ = true;
            expressionOverLimit_ = true;
            return kNone;
        }
        return kNone;
    }

    bool Spend(qint64 steps)
    {
        budget_ -= steps;
        if (budget_ < 0)
            exhausted_ = true;
        return !exhausted_;
    }

    // Walks the path to `end` again, taking each run's first length that still reaches it.
    bool Collect(qsizetype end, Captures& captures)
    {
        spans_.assign(pattern_.elements.size(), {0, 0}); // only a match pays for them
        qsizetype pos = 0;
        for (size_t i = 0; i < pattern_.elements.size(); ++i) {
            const PatternElement& element = pattern_.elements[i];
            std::vector<qsizetype> groups;
            qsizetype next = pos;
            if (element.kind == PatternElement::Kind::Run) {
                const qsizetype last = size_ - pattern_.minRest[i + 1];
                for (next = RunEnd(i, FirstRunEnd(i, pos), last); next != kNone && !exhausted_;
                     next = RunEnd(i, next + 1, last)) {
                    spans_[i] = {pos, next};
                    if (Solve(i + 1, next) == end)
                        break;
                }
            } else {
                next = NextPosition(i, pos, &groups);
            }
            if (exhausted_ || next == kNone || next > size_)
                return false;
            spans_[i] = {pos, next};
            Keep(i, captures);
            for (size_t g = 0; 2 * g < groups.size(); ++g) {
                const qsizetype from = groups[2 * g];
                if (from >= 0)
                    captures.groups[element.firstGroup + int(g)] =
                        data_.sliced(from, groups[2 * g + 1] - from).toByteArray();
            }
            pos = next;
        }
        return true;
    }

    // What element i took, by its name, for the reply.
    void Keep(size_t i, Captures& captures) const
    {
        const PatternElement& element = pattern_.elements[i];
        if (element.kind == PatternElement::Kind::Reference)
            return;
        if (!element.name.isEmpty())
            captures.named.insert(element.name, Taken(i).toByteArray());
        if (element.littleEndian && !element.name.isEmpty())
            captures.numbers.insert(element.name, LittleEndianValue(Taken(i)));
        for (const BitField& field : element.fields) {
            if (!field.name.isEmpty())
                captures.numbers.insert(field.name, FieldValue(i, field));
        }
    }

    const Pattern::Data& pattern_;
    QByteArrayView data_;
    MatchMode mode_;
    qsizetype size_;
    const Scope* outside_;
    qsizetype searched_;                                 // no match ends within these first bytes
    std::vector<std::pair<qsizetype, qsizetype>> spans_; // what each element took on this path
    qint64 budget_ = Pattern::kMatchBudget;
    bool exhausted_ = false;
    bool expressionOverLimit_ = false;
    QHash<quint64, qsizetype> memo_;
    std::vector<ChecksumSoFar> checksums_;
};

} // namespace

// Comparing fixed bytes costs a tenth of setting up a search; the same answer, steps included.
MatchResult MatchFixedBytes(QByteArrayView literal, QByteArrayView data, MatchMode mode,
                            qsizetype searched)
{
    MatchResult result;
    result.steps = 2 + literal.size() / kBytesPerStep;
    const bool matched = mode == MatchMode::Whole
                             ? data == literal
                             : data.startsWith(literal) && literal.size() > searched;
    if (matched) {
        result.status = MatchResult::Status::Matched;
        result.length = literal.size();
    }
    return result;
}

MatchResult MatchElements(const Pattern::Data& pattern, QByteArrayView data, MatchMode mode,
                          const Scope* outside, qsizetype searched)
{
    return Matcher(pattern, data, mode, outside, searched).Run();
}

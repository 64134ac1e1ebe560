#include "replay/answermask.h"

#include <QRegularExpression>

namespace {

const QLatin1String kBytes("bytes:");
const QLatin1String kPattern("pattern:");

int ByteAt(QByteArrayView bytes, qsizetype at)
{
    return at < bytes.size() ? quint8(bytes[at]) : -1;
}

} // namespace

std::optional<SyntaxError> AnswerMask::Add(const QString& mask)
{
    if (mask.startsWith(kPattern)) {
        SyntaxError error;
        std::optional<AnswerShape> shape = AnswerShape::Parse(mask.mid(kPattern.size()), error);
        if (!shape)
            return SyntaxError{error.offset + kPattern.size(), error.reason};
        shapes_.push_back(std::move(*shape));
        return std::nullopt;
    }
    static const QRegularExpression range(QStringLiteral("^bytes:([0-9]{1,12})\\+([0-9]{1,12})$"));
    const QRegularExpressionMatch match = range.match(mask);
    const qsizetype from = match.captured(1).toLongLong();
    const qsizetype count = match.captured(2).toLongLong();
    if (!match.hasMatch() || count < 1)
        return SyntaxError{mask.startsWith(kBytes) ? kBytes.size() : 0,
                           QStringLiteral("write bytes:START+COUNT (bytes:4+2 is the 5th and "
                                          "6th byte of every answer) or pattern:PATTERN")};
    ranges_.push_back({from, count});
    return std::nullopt;
}

std::optional<Divergence> AnswerMask::FirstDivergence(QByteArrayView expected,
                                                      QByteArrayView received) const
{
    for (const AnswerShape& shape : shapes_) {
        const auto expectedParts = shape.Cut(expected);
        if (!expectedParts)
            continue;
        if (const auto receivedParts = shape.Cut(received))
            return CompareParts(expected, *expectedParts, received, *receivedParts);
        // Of another shape: compared where the captured answer has its parts.
        std::vector<Range> captures;
        for (const AnswerShape::Part& part : *expectedParts) {
            if (part.ignored)
                captures.push_back({part.from, part.length});
        }
        return CompareInPlace(expected, received, 0, captures);
    }
    return CompareInPlace(expected, received, 0, {});
}

std::optional<Divergence> AnswerMask::LastingDivergence(QByteArrayView expected,
                                                        QByteArrayView received,
                                                        qsizetype from) const
{
    for (const AnswerShape& shape : shapes_) {
        if (shape.Cut(expected))
            return std::nullopt;
    }
    from = std::min({from, expected.size(), received.size()});
    std::optional<Divergence> divergence =
        CompareInPlace(expected.sliced(from), received.sliced(from), from, {});
    if (!divergence || divergence->received < 0)
        return std::nullopt; // the rest may yet come
    divergence->offset += from;
    return divergence;
}

bool AnswerMask::HasShapeOf(QByteArrayView expected, QByteArrayView received) const
{
    for (const AnswerShape& shape : shapes_) {
        if (shape.Cut(expected))
            return shape.Cut(received).has_value();
    }
    return false;
}

bool AnswerMask::Ignored(qsizetype offset, const std::vector<Range>& more) const
{
    for (const std::vector<Range>* list : {&ranges_, &more}) {
        for (const Range& range : *list) {
            if (offset >= range.from && offset - range.from < range.count)
                return true;
        }
    }
    return false;
}

std::optional<Divergence> AnswerMask::CompareInPlace(QByteArrayView expected,
                                                     QByteArrayView received, qsizetype base,
                                                     const std::vector<Range>& more) const
{
    const qsizetype common = std::min(expected.size(), received.size());
    for (qsizetype at = 0; at < common; ++at) {
        if (expected[at] != received[at] && !Ignored(base + at, more))
            return Divergence{at, ByteAt(expected, at), ByteAt(received, at)};
    }
    if (expected.size() == received.size())
        return std::nullopt;
    return Divergence{common, ByteAt(expected, common), ByteAt(received, common)};
}

std::optional<Divergence> AnswerMask::CompareParts(
    QByteArrayView expected, const std::vector<AnswerShape::Part>& expectedParts,
    QByteArrayView received, const std::vector<AnswerShape::Part>& receivedParts) const
{
    for (size_t i = 0; i < expectedParts.size(); ++i) {
        const AnswerShape::Part& mine = expectedParts[i];
        const AnswerShape::Part& theirs = receivedParts[i];
        if (mine.ignored)
            continue;
        const QByteArrayView was = expected.sliced(mine.from, mine.length);
        const QByteArrayView is = received.sliced(theirs.from, theirs.length);
        if (const auto divergence = CompareInPlace(was, is, theirs.from, {})) {
            const qsizetype at = theirs.from + divergence->offset;
            return Divergence{at, ByteAt(expected, mine.from + divergence->offset),
                              ByteAt(received, at)};
        }
    }
    return std::nullopt;
}

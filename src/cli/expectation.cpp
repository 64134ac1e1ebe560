#include "cli/expectation.h"

#include "rules/checksum.h"
#include "rules/lexer.h"

#include <QRegularExpression>
#include <QSet>

namespace {

// Beyond this a fixed head says little more about where an answer went wrong.
constexpr qsizetype kLongestHead = 64 * 1024;

// Compares what came with the bytes an expectation fixes, piece after piece, in place.
struct HeadWalk {
    QByteArrayView received;
    qsizetype at = 0;
    bool differs = false; // at `at`
    bool ended = false;   // what came ends before the bytes fixed so far

    // Whether all of `wanted` (-1 for any byte) agrees with what came from `at` on.
    bool Agrees(const std::vector<int>& wanted)
    {
        for (const int byte : wanted) {
            if (!Next(byte))
                return false;
        }
        return true;
    }
    bool Agrees(QByteArrayView wanted)
    {
        for (const char byte : wanted) {
            if (!Next(static_cast<unsigned char>(byte)))
                return false;
        }
        return true;
    }
    bool Next(int wanted)
    {
        ended = at >= received.size();
        differs = !ended && wanted >= 0 && wanted != static_cast<unsigned char>(received[at]);
        if (ended || differs)
            return false;
        ++at;
        return true;
    }
};

} // namespace

std::optional<Expectation> Expectation::Parse(const QString& text, TextEncoding encoding,
                                              SyntaxError& error,
                                              const std::function<bool(const QString&)>& known)
{
    std::optional<Pattern> pattern = Pattern::Parse(text, encoding, error, known);
    if (!pattern)
        return std::nullopt;
    Expectation expectation(std::move(*pattern), text);
    expectation.ReadFixedHead(text, encoding);
    return expectation;
}

void Expectation::ReadFixedHead(QStringView text, TextEncoding encoding)
{
    static const QRegularExpression fixedCapture(QStringLiteral("^([^:]*):\\s*([0-9]+)$"));
    std::vector<Token> tokens;
    SyntaxError ignored;
    Tokenize(text, encoding, tokens, ignored); // the pattern parsed, so its tokens do
    std::vector<int>* fixed = &head_;
    qsizetype length = 0;
    QSet<QString> captured;
    for (const Token& token : tokens) {
        const QString brace = token.text.trimmed();
        qsizetype anyBytes = 0;
        if (token.kind == Token::Kind::Bytes) {
            for (char byte : token.bytes)
                fixed->push_back(static_cast<unsigned char>(byte));
            length += token.bytes.size();
        } else if (token.kind == Token::Kind::AnyByte) {
            anyBytes = 1;
        } else if (const auto match = fixedCapture.match(brace);
                   token.kind == Token::Kind::Brace && match.hasMatch()) {
            anyBytes = match.captured(2).toLongLong();
            captured.insert(match.captured(1).trimmed());
        } else if (token.kind == Token::Kind::Brace && IsName(brace) && !ChecksumByName(brace) &&
                   !captured.contains(brace)) {
            references_.push_back({brace, {}});
            fixed = &references_.back().after;
        } else {
            headIsAll_ = referencesAreAll_ = false;
            return;
        }
        length += anyBytes;
        if (length > kLongestHead) {
            headIsAll_ = referencesAreAll_ = false;
            return;
        }
        fixed->insert(fixed->end(), size_t(anyBytes), -1);
    }
    headIsAll_ = references_.empty();
}

MatchResult Expectation::Match(QByteArrayView received, bool whole, const Scope* bound) const
{
    return pattern_.Match(received, whole ? MatchMode::Whole : MatchMode::Prefix, bound);
}

Difference Expectation::FirstDifference(QByteArrayView received, bool whole,
                                        const Scope* bound) const
{
    HeadWalk walk{received};
    bool isAll = headIsAll_;
    if (walk.Agrees(head_) && bound && !references_.empty()) {
        isAll = referencesAreAll_;
        for (const Reference& reference : references_) {
            const std::optional<QByteArray> bytes = bound->Bytes(reference.name);
            if (!bytes) {
                isAll = false;
                break;
            }
            if (!walk.Agrees(*bytes) || !walk.Agrees(reference.after))
                break;
        }
    }
    if (walk.differs)
        return {walk.at, true};
    if (walk.ended)
        return {received.size(), whole};
    // A datagram of the head's length that agrees with all of it is the one expected.
    return {walk.at, whole && isAll && received.size() > walk.at};
}

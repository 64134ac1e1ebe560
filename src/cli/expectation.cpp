#include "cli/expectation.h"

#include "rules/checksum.h"
#include "rules/lexer.h"

#include <QRegularExpression>
#include <QSet>

namespace {

// Beyond this a fixed head says little more about where an answer went wrong.
constexpr qsizetype kLongestHead = 64 * 1024;

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

std::vector<int> Expectation::BoundHead(const Scope& bound, bool& isAll) const
{
    std::vector<int> head = head_;
    isAll = referencesAreAll_;
    for (const Reference& reference : references_) {
        const std::optional<QByteArray> bytes = bound.Bytes(reference.name);
        if (!bytes || qsizetype(head.size()) + bytes->size() > kLongestHead) {
            isAll = false;
            break;
        }
        for (char byte : *bytes)
            head.push_back(static_cast<unsigned char>(byte));
        head.insert(head.end(), reference.after.begin(), reference.after.end());
    }
    return head;
}

MatchResult Expectation::Match(QByteArrayView received, bool whole, const Scope* bound) const
{
    return pattern_.Match(received, whole ? MatchMode::Whole : MatchMode::Prefix, bound);
}

Difference Expectation::FirstDifference(QByteArrayView received, bool whole,
                                        const Scope* bound) const
{
    bool isAll = headIsAll_;
    const std::vector<int> resolved =
        bound && !references_.empty() ? BoundHead(*bound, isAll) : std::vector<int>();
    const std::vector<int>& fixed = resolved.empty() ? head_ : resolved;
    const qsizetype head = qsizetype(fixed.size());
    const qsizetype compared = std::min(head, received.size());
    for (qsizetype i = 0; i < compared; ++i) {
        const int wanted = fixed[size_t(i)];
        if (wanted >= 0 && wanted != static_cast<unsigned char>(received[i]))
            return {i, true};
    }
    if (received.size() < head)
        return {received.size(), whole};
    // A datagram of the head's length that agrees with all of it is the one expected.
    return {head, whole && isAll && received.size() > head};
}

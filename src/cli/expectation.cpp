#include "cli/expectation.h"

#include "rules/lexer.h"

#include <QRegularExpression>

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
    static const QRegularExpression fixedCapture(QStringLiteral("^[^:]*:\\s*([0-9]+)$"));
    std::vector<Token> tokens;
    SyntaxError ignored;
    Tokenize(text, encoding, tokens, ignored); // the pattern parsed, so its tokens do
    for (const Token& token : tokens) {
        qsizetype anyBytes = 0;
        if (token.kind == Token::Kind::Bytes) {
            for (char byte : token.bytes)
                head_.push_back(static_cast<unsigned char>(byte));
        } else if (token.kind == Token::Kind::AnyByte) {
            anyBytes = 1;
        } else if (const auto match = fixedCapture.match(token.text);
                   token.kind == Token::Kind::Brace && match.hasMatch()) {
            anyBytes = match.captured(1).toLongLong();
        } else {
            headIsAll_ = false;
            return;
        }
        if (qsizetype(head_.size()) + anyBytes > kLongestHead) {
            headIsAll_ = false;
            return;
        }
        head_.insert(head_.end(), size_t(anyBytes), -1);
    }
}

MatchResult Expectation::Match(QByteArrayView received, bool whole, const Scope* bound) const
{
    return pattern_.Match(received, whole ? MatchMode::Whole : MatchMode::Prefix, bound);
}

Difference Expectation::FirstDifference(QByteArrayView received, bool whole) const
{
    const qsizetype head = qsizetype(head_.size());
    const qsizetype compared = std::min(head, received.size());
    for (qsizetype i = 0; i < compared; ++i) {
        const int wanted = head_[size_t(i)];
        if (wanted >= 0 && wanted != static_cast<unsigned char>(received[i]))
            return {i, true};
    }
    if (received.size() < head)
        return {received.size(), whole};
    return {head, whole && headIsAll_};
}

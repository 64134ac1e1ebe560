#include "replay/answershape.h"

#include "rules/checksum.h"
#include "rules/lexer.h"

namespace {

// A name for an unnamed run that no capture of the pattern has.
QString FreeRunName(const Pattern& pattern, int number)
{
    QString name = QStringLiteral("_run%1").arg(number);
    while (pattern.HasCapture(name))
        name += u'_';
    return name;
}

} // namespace

bool AnswerShape::AddPiece(const Token& token, const Pattern& original, int& runs,
                           QString& rewritten, std::vector<Piece>& pieces)
{
    Piece piece;
    switch (token.kind) {
    case Token::Kind::Bytes:
        piece.length = token.bytes.size();
        rewritten += QString::fromLatin1(token.bytes.toHex());
        break;
    case Token::Kind::AnyByte:
        piece.length = 1;
        rewritten += QStringLiteral("??");
        break;
    case Token::Kind::AnyRun:
        piece.name = FreeRunName(original, runs++);
        rewritten += QStringLiteral("{%1:*}").arg(piece.name);
        break;
    case Token::Kind::Brace:
        if (!AddBrace(token.text, piece))
            return false;
        rewritten += u'{' + token.text + u'}';
        break;
    case Token::Kind::Regex:
    case Token::Kind::GroupOpen:
    case Token::Kind::GroupClose:
        return false;
    }
    rewritten += u' ';
    pieces.push_back(piece);
    return true;
}

// A capture is left out of the comparison; the same bytes again ({name}), a number worked out
// ({len - 2:1}) and a checksum are compared. Bit fields share bytes, so they have no part.
bool AnswerShape::AddBrace(const QString& text, Piece& piece)
{
    const qsizetype colon = text.indexOf(u':');
    const QString left = text.left(colon).trimmed();
    if (const std::optional<ChecksumKind> checksum = ChecksumByName(text)) {
        piece.length = ChecksumWidth(*checksum);
        return true;
    }
    if (colon < 0) {
        piece.name = text;
        return true;
    }
    QString reason;
    const std::optional<NumberWidth> width = NumberWidth::Parse(text.mid(colon + 1), reason);
    if (width && width->bits)
        return false;
    if (IsName(left) || !width) {
        piece.name = left;
        piece.ignored = true;
        return true;
    }
    piece.length = width->size;
    return true;
}

std::optional<AnswerShape> AnswerShape::Parse(const QString& text, SyntaxError& error)
{
    const std::optional<Pattern> original = Pattern::Parse(text, TextEncoding::Utf8, error);
    std::vector<Token> tokens;
    if (!original || !Tokenize(text, TextEncoding::Utf8, tokens, error))
        return std::nullopt;
    QString rewritten;
    std::vector<Piece> pieces;
    int runs = 0;
    for (const Token& token : tokens) {
        if (!AddPiece(token, *original, runs, rewritten, pieces)) {
            error = {token.offset, QStringLiteral("an expression cannot be placed in an answer, "
                                                  "nor a bit field; write {name:*} for bytes "
                                                  "that may change")};
            return std::nullopt;
        }
    }
    std::optional<Pattern> named = Pattern::Parse(rewritten, TextEncoding::Utf8, error);
    if (!named)
        return std::nullopt;
    return AnswerShape(std::move(*named), std::move(pieces));
}

std::optional<std::vector<AnswerShape::Part>> AnswerShape::Cut(QByteArrayView answer) const
{
    const MatchResult match = pattern_.Match(answer, MatchMode::Whole);
    if (!match.matched())
        return std::nullopt;
    std::vector<Part> parts;
    qsizetype at = 0;
    for (const Piece& piece : pieces_) {
        const qsizetype length =
            piece.name.isEmpty() ? piece.length : match.captures.named.value(piece.name).size();
        parts.push_back({at, length, piece.ignored});
        at += length;
    }
    if (at != answer.size())
        return std::nullopt;
    return parts;
}

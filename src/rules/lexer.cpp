#include "rules/lexer.h"

#include <QStringEncoder>

namespace {

bool IsHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

int HexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    return (c.unicode() | 0x20) - u'a' + 10;
}

// Written between byte pairs and pieces only to make them readable.
bool IsSeparator(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u':' || c == u',' ||
           c == u'-';
}

// One character, two code units when it is a surrogate pair.
qsizetype CharLength(QStringView text, qsizetype i)
{
    return text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()
               ? 2
               : 1;
}

bool EncodeOne(QStringView character, TextEncoding encoding, QByteArray& out)
{
    if (character.size() == 1 && character.at(0).unicode() < 0x80) {
        // The Windows-31J converter swaps some control codes; ASCII is the same in both anyway.
        out += static_cast<char>(character.at(0).unicode());
        return true;
    }
    if (character.size() == 1 && character.at(0).isSurrogate())
        return false;
    QStringEncoder encoder(encoding == TextEncoding::Utf8 ? "UTF-8" : "windows-31j",
                           QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(character);
    if (encoder.hasError() || bytes.isEmpty())
        return false;
    out += bytes;
    return true;
}

class Lexer {
public:
    Lexer(QStringView source, TextEncoding encoding, std::vector<Token>& tokens, SyntaxError& error)
        : source_(source), encoding_(encoding), tokens_(tokens), error_(error)
    {
    }

    bool Run()
    {
        while (pos_ < source_.size()) {
            const QChar c = source_.at(pos_);
            if (IsSeparator(c)) {
                ++pos_;
                continue;
            }
            if (!ReadPiece(c))
                return false;
            tokens_.back().end = pos_;
        }
        return true;
    }

private:
    bool ReadPiece(QChar c)
    {
        if (IsHexDigit(c))
            return ReadHex();
        if (c == u'"')
            return ReadQuoted();
        if (c == u'r' && source_.mid(pos_).startsWith(u"re\""))
            return ReadRegex();
        if (c == u'{')
            return ReadBrace();
        if (c == u'*' || c == u'(' || c == u')') {
            Add(c == u'*'   ? Token::Kind::AnyRun
                : c == u'(' ? Token::Kind::GroupOpen
                            : Token::Kind::GroupClose,
                pos_++);
            return true;
        }
        if (c == u'?') {
            if (pos_ + 1 >= source_.size() || source_.at(pos_ + 1) != u'?')
                return Fail(pos_, QStringLiteral("a lone '?': any one byte is written ??"));
            Add(Token::Kind::AnyByte, pos_);
            pos_ += 2;
            return true;
        }
        return Fail(
            pos_,
            QStringLiteral("unexpected '%1'").arg(source_.mid(pos_, CharLength(source_, pos_))));
    }

    bool ReadHex()
    {
        const qsizetype start = pos_;
        while (pos_ < source_.size() && IsHexDigit(source_.at(pos_)))
            ++pos_;
        if ((pos_ - start) % 2 != 0)
            return Fail(start, QStringLiteral("hex digits come in pairs"));
        Token& token = Add(Token::Kind::Bytes, start);
        for (qsizetype i = start; i < pos_; i += 2)
            token.bytes +=
                static_cast<char>(HexValue(source_.at(i)) * 16 + HexValue(source_.at(i + 1)));
        return true;
    }

    bool ReadQuoted()
    {
        const qsizetype start = pos_++;
        Token& token = Add(Token::Kind::Bytes, start);
        while (pos_ < source_.size() && source_.at(pos_) != u'"') {
            if (source_.at(pos_) == u'\\') {
                if (!ReadEscape(token.bytes))
                    return false;
                continue;
            }
            const qsizetype length = CharLength(source_, pos_);
            if (!EncodeOne(source_.mid(pos_, length), encoding_, token.bytes))
                return Fail(pos_, CannotEncode(pos_));
            pos_ += length;
        }
        if (pos_ >= source_.size())
            return Fail(start, QStringLiteral("the quoted text has no closing '\"'"));
        ++pos_;
        return true;
    }

    bool ReadEscape(QByteArray& out)
    {
        const qsizetype start = pos_;
        const QChar code = pos_ + 1 < source_.size() ? source_.at(pos_ + 1) : QChar();
        pos_ += 2;
        switch (code.unicode()) {
        case u'r':
            out += '\r';
            return true;
        case u'n':
            out += '\n';
            return true;
        case u't':
            out += '\t';
            return true;
        case u'0':
            out += '\0';
            return true;
        case u'\\':
            out += '\\';
            return true;
        case u'"':
            out += '"';
            return true;
        case u'x':
            if (pos_ + 1 < source_.size() && IsHexDigit(source_.at(pos_)) &&
                IsHexDigit(source_.at(pos_ + 1))) {
                out += static_cast<char>(HexValue(source_.at(pos_)) * 16 +
                                         HexValue(source_.at(pos_ + 1)));
                pos_ += 2;
                return true;
            }
            return Fail(start, QStringLiteral("\\x takes two hex digits"));
        default:
            return Fail(start,
                        QStringLiteral("unknown escape; use \\r \\n \\t \\0 \\\\ \\\" or \\xNN"));
        }
    }

    bool ReadRegex();
    bool AddRegexChar(Token& token, bool quoting);

    bool ReadBrace()
    {
        const qsizetype start = pos_;
        const qsizetype close = source_.indexOf(u'}', pos_);
        if (close < 0)
            return Fail(start, QStringLiteral("'{' has no closing '}'"));
        Add(Token::Kind::Brace, start).text =
            source_.mid(pos_ + 1, close - pos_ - 1).trimmed().toString();
        pos_ = close + 1;
        return true;
    }

    QString CannotEncode(qsizetype at) const
    {
        return QStringLiteral("'%1' cannot be written in %2")
            .arg(source_.mid(at, CharLength(source_, at)), encoding_ == TextEncoding::Utf8
                                                               ? QStringLiteral("UTF-8")
                                                               : QStringLiteral("windows-31j"));
    }

    Token& Add(Token::Kind kind, qsizetype offset)
    {
        Token token;
        token.kind = kind;
        token.offset = offset;
        tokens_.push_back(std::move(token));
        return tokens_.back();
    }

    bool Fail(qsizetype offset, const QString& reason)
    {
        error_ = {offset, reason};
        return false;
    }

    QStringView source_;
    TextEncoding encoding_;
    std::vector<Token>& tokens_;
    SyntaxError& error_;
    qsizetype pos_ = 0;
};

// Inside re"..." only \" is ours (a quote); every other backslash goes to PCRE2 with the
// character after it.
bool Lexer::ReadRegex()
{
    const qsizetype start = pos_;
    pos_ += 3;
    Token& token = Add(Token::Kind::Regex, start);
    bool quoting = false; // inside \Q...\E, where PCRE2 takes everything as text
    while (pos_ < source_.size() && source_.at(pos_) != u'"') {
        const QChar c = source_.at(pos_);
        const QChar next = pos_ + 1 < source_.size() ? source_.at(pos_ + 1) : QChar();
        if (c == u'\\' && next == u'"') {
            token.bytes += '"';
            pos_ += 2;
        } else if (c == u'\\' && next.unicode() >= 0x20 && next.unicode() < 0x80) {
            quoting = next == u'Q' ? true : next == u'E' ? false : quoting;
            token.bytes += '\\';
            token.bytes += static_cast<char>(next.unicode());
            pos_ += 2;
        } else if (!AddRegexChar(token, quoting)) {
            return false;
        }
    }
    if (pos_ >= source_.size())
        return Fail(start, QStringLiteral("the expression has no closing '\"'"));
    ++pos_;
    return true;
}

// A non-ASCII character becomes its bytes; a Windows-31J trail byte that PCRE2 would read as
// syntax ('\\', '[', '|', '{' ...) is escaped so that it stays part of its character.
bool Lexer::AddRegexChar(Token& token, bool quoting)
{
    const qsizetype length = CharLength(source_, pos_);
    if (source_.at(pos_) == u'\\') {
        token.bytes += '\\'; // before a control or non-ASCII character: PCRE2 makes sense of it
        ++pos_;
        return true;
    }
    QByteArray bytes;
    if (!EncodeOne(source_.mid(pos_, length), encoding_, bytes))
        return Fail(pos_, CannotEncode(pos_));
    const bool multiByte = bytes.size() > 1;
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (multiByte && !quoting && value < 0x80 && !QChar::isLetterOrNumber(value))
            token.bytes += '\\';
        token.bytes += byte;
    }
    pos_ += length;
    return true;
}

} // namespace

bool Tokenize(QStringView source, TextEncoding encoding, std::vector<Token>& tokens,
              SyntaxError& error)
{
    return Lexer(source, encoding, tokens, error).Run();
}

bool EncodeText(QStringView text, TextEncoding encoding, QByteArray& out, qsizetype& badIndex)
{
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = CharLength(text, i);
        if (!EncodeOne(text.mid(i, length), encoding, out)) {
            badIndex = i;
            return false;
        }
        i += length;
    }
    return true;
}

bool IsName(QStringView text)
{
    if (text.isEmpty() || !(text.at(0).isLetter() || text.at(0) == u'_'))
        return false;
    for (QChar c : text) {
        if (!(c.isLetterOrNumber() || c == u'_'))
            return false;
    }
    return true;
}

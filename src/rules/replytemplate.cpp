#include "rules/replytemplate.h"

#include "rules/checksum.h"
#include "rules/lexer.h"
#include "rules/replytemplate_p.h"

#include <QRegularExpression>

#include <vector>

namespace {

constexpr int kMaxGroup = 9999;
constexpr int kMaxNesting = 16;

ReplyPart PartOf(ReplyPart::Kind kind, qsizetype offset)
{
    ReplyPart part;
    part.kind = kind;
    part.offset = offset;
    return part;
}

bool HasChecksum(const std::vector<ReplyPart>& parts)
{
    for (const ReplyPart& part : parts) {
        if (part.kind == ReplyPart::Kind::Checksum || HasChecksum(part.children))
            return true;
    }
    return false;
}

class TemplateReader {
public:
    TemplateReader(const std::vector<Token>& tokens, SyntaxError& error)
        : tokens_(tokens), error_(error)
    {
    }

    bool Read(std::vector<ReplyPart>& parts)
    {
        if (!ReadParts(parts, 0))
            return false;
        if (next_ < tokens_.size())
            return Fail(tokens_[next_].offset, QStringLiteral("')' closes no group"));
        return true;
    }

private:
    // Up to the end, or to the ')' that closes the group being read.
    bool ReadParts(std::vector<ReplyPart>& parts, int depth)
    {
        while (next_ < tokens_.size()) {
            const Token& token = tokens_[next_];
            if (token.kind == Token::Kind::GroupClose)
                return depth > 0 || Fail(token.offset, QStringLiteral("')' closes no group"));
            ++next_;
            if (!AddToken(token, parts, depth))
                return false;
        }
        return true;
    }

    bool AddToken(const Token& token, std::vector<ReplyPart>& parts, int depth)
    {
        switch (token.kind) {
        case Token::Kind::Bytes:
            if (!parts.empty() && parts.back().kind == ReplyPart::Kind::Bytes) {
                parts.back().bytes += token.bytes;
            } else {
                parts.push_back(PartOf(ReplyPart::Kind::Bytes, token.offset));
                parts.back().bytes = token.bytes;
            }
            return true;
        case Token::Kind::Brace:
            return AddBrace(token, parts, depth);
        case Token::Kind::GroupOpen:
            return Fail(token.offset, QStringLiteral("a group ( ) follows {len:N} or {repeat N}"));
        case Token::Kind::AnyByte:
        case Token::Kind::AnyRun:
        case Token::Kind::Regex:
        case Token::Kind::GroupClose:
            break;
        }
        return Fail(token.offset, QStringLiteral("\"??\", \"*\" and re\"...\" are for matching, "
                                                 "not for replies"));
    }

    bool AddBrace(const Token& token, std::vector<ReplyPart>& parts, int depth)
    {
        static const QRegularExpression group(QStringLiteral("^[0-9]+$"));
        const QString& text = token.text;
        if (text == QLatin1String("echo")) {
            parts.push_back(PartOf(ReplyPart::Kind::Echo, token.offset));
        } else if (group.match(text).hasMatch()) {
            return AddGroup(token, parts);
        } else if (const std::optional<ChecksumKind> kind = ChecksumByName(text)) {
            parts.push_back(PartOf(ReplyPart::Kind::Checksum, token.offset));
            parts.back().checksum = *kind;
        } else if (text.startsWith(QLatin1String("repeat ")) ||
                   text.startsWith(QLatin1String("repeat("))) {
            return AddRepeat(token, text.mid(6), parts, depth);
        } else if (text.contains(u':')) {
            return AddNumber(token, parts, depth);
        } else if (IsName(text) && text != QLatin1String("counter") &&
                   text != QLatin1String("index")) {
            parts.push_back(PartOf(ReplyPart::Kind::Capture, token.offset));
            parts.back().name = text;
        } else {
            return AddValue(token, ReplyPart::Kind::Decimal, text, parts);
        }
        return true;
    }

    // {EXPRESSION:WIDTH}, or {len:WIDTH}( ... ), the length of the group after it.
    bool AddNumber(const Token& token, std::vector<ReplyPart>& parts, int depth)
    {
        const qsizetype colon = token.text.indexOf(u':');
        const QString left = token.text.left(colon).trimmed();
        QString reason;
        const std::optional<NumberWidth> width =
            NumberWidth::Parse(token.text.mid(colon + 1).trimmed(), reason);
        if (!width || width->bits)
            return Fail(token.offset,
                        !reason.isEmpty() ? reason
                        : width           ? QStringLiteral("a reply writes bits with arithmetic: "
                                                                     "{(a << 4 | b):1}")
                                : QStringLiteral("a reply writes a number in a width of bytes: "
                                                 "{%1:2} or {%1:2le}")
                                      .arg(left));
        const bool length = left == QLatin1String("len") && next_ < tokens_.size() &&
                            tokens_[next_].kind == Token::Kind::GroupOpen;
        if (!length) {
            if (!AddValue(token, ReplyPart::Kind::Number, left, parts))
                return false;
            parts.back().width = *width;
            return true;
        }
        ReplyPart part = PartOf(ReplyPart::Kind::Length, token.offset);
        part.width = *width;
        if (!ReadGroup(part, depth))
            return false;
        part.checksumInside = HasChecksum(part.children);
        parts.push_back(std::move(part));
        return true;
    }

    bool AddRepeat(const Token& token, const QString& count, std::vector<ReplyPart>& parts,
                   int depth)
    {
        if (next_ >= tokens_.size() || tokens_[next_].kind != Token::Kind::GroupOpen)
            return Fail(token.offset, QStringLiteral("{repeat N} is followed by the group it "
                                                     "repeats: {repeat N}( ... )"));
        if (!AddValue(token, ReplyPart::Kind::Repeat, count, parts))
            return false;
        ReplyPart& part = parts.back();
        ++repeats_;
        const bool read = ReadGroup(part, depth);
        --repeats_;
        return read;
    }

    bool AddValue(const Token& token, ReplyPart::Kind kind, const QString& text,
                  std::vector<ReplyPart>& parts)
    {
        SyntaxError error;
        std::optional<Expression> value = Expression::Parse(text, error);
        if (!value)
            return Fail(token.offset + 1 + error.offset, error.reason);
        parts.push_back(PartOf(kind, token.offset));
        parts.back().value = std::move(value);
        parts.back().inRepeat = repeats_ > 0;
        return true;
    }

    // The '(' ... ')' after a length field or a repeat.
    bool ReadGroup(ReplyPart& part, int depth)
    {
        const Token& open = tokens_[next_++];
        if (depth + 1 > kMaxNesting)
            return Fail(open.offset,
                        QStringLiteral("groups nest at most %1 deep").arg(kMaxNesting));
        if (!ReadParts(part.children, depth + 1))
            return false;
        if (next_ >= tokens_.size())
            return Fail(open.offset, QStringLiteral("'(' has no closing ')'"));
        ++next_;
        return true;
    }

    bool AddGroup(const Token& token, std::vector<ReplyPart>& parts)
    {
        bool ok = false;
        const int index = token.text.toInt(&ok);
        if (!ok || index < 1 || index > kMaxGroup)
            return Fail(token.offset, QStringLiteral("expression groups count from {1}"));
        parts.push_back(PartOf(ReplyPart::Kind::Group, token.offset));
        parts.back().index = index;
        return true;
    }

    bool Fail(qsizetype offset, const QString& reason)
    {
        error_ = {offset, reason};
        return false;
    }

    const std::vector<Token>& tokens_;
    SyntaxError& error_;
    size_t next_ = 0;
    int repeats_ = 0;
};

// A name that reads like a checksum was most likely meant as one.
QString NoSuchCapture(const QString& name)
{
    static const QRegularExpression checksumLike(QStringLiteral("^(crc|sum|xor|lrc)"));
    if (checksumLike.match(name).hasMatch())
        return QStringLiteral("unknown checksum \"%1\" (known: %2)")
            .arg(name, ChecksumNames().join(QStringLiteral(", ")));
    return QStringLiteral("the match has no capture \"%1\"").arg(name);
}

// The same where captures come from a script or the command line.
QString NoSuchVariable(const QString& name)
{
    const QString checksum = NoSuchCapture(name);
    return checksum.startsWith(QStringLiteral("unknown checksum"))
               ? checksum
               : QStringLiteral("unknown name \"%1\": nothing sets it before it is used").arg(name);
}

using Known = std::function<bool(const QString&)>;

// The first name among `parts` that `known` says no to, or a bit field written as bytes.
std::optional<SyntaxError> FindUnknown(const std::vector<ReplyPart>& parts, const Known& known,
                                       const Known& bitField,
                                       const std::function<QString(const QString&)>& unknown)
{
    for (const ReplyPart& part : parts) {
        if (part.kind == ReplyPart::Kind::Capture && bitField(part.name))
            return SyntaxError{part.offset,
                               QStringLiteral("\"%1\" is a bit field, a number: write it with a "
                                              "width, {%1:1}")
                                   .arg(part.name)};
        if (part.kind == ReplyPart::Kind::Capture && !known(part.name))
            return SyntaxError{part.offset, unknown(part.name)};
        if (part.value) {
            const Known inside = [&](const QString& name) {
                return name == QLatin1String("counter") ||
                       (part.inRepeat && name == QLatin1String("index")) || known(name);
            };
            if (std::optional<SyntaxError> error = part.value->FindUnknownName(inside)) {
                error->offset = part.offset;
                return error;
            }
        }
        if (auto error = FindUnknown(part.children, known, bitField, unknown))
            return error;
    }
    return std::nullopt;
}

std::optional<SyntaxError> FindGroup(const std::vector<ReplyPart>& parts, int most,
                                     const std::function<QString(int)>& reason)
{
    for (const ReplyPart& part : parts) {
        if (part.kind == ReplyPart::Kind::Group && part.index > most)
            return SyntaxError{part.offset, reason(part.index)};
        if (auto error = FindGroup(part.children, most, reason))
            return error;
    }
    return std::nullopt;
}

} // namespace

struct ReplyTemplate::Data {
    std::vector<ReplyPart> parts;
};

std::optional<ReplyTemplate> ReplyTemplate::Parse(QStringView text, TextEncoding encoding,
                                                  SyntaxError& error)
{
    std::vector<Token> tokens;
    auto data = std::make_shared<Data>();
    if (!Tokenize(text, encoding, tokens, error) ||
        !TemplateReader(tokens, error).Read(data->parts))
        return std::nullopt;
    return ReplyTemplate(std::move(data));
}

std::optional<SyntaxError>
ReplyTemplate::FindUndefinedCapture(const Pattern* pattern,
                                    const std::function<bool(const QString&)>& outside) const
{
    const Known known = [&](const QString& name) {
        return (pattern && pattern->HasCapture(name)) || (outside && outside(name));
    };
    const Known bitField = [&](const QString& name) {
        return pattern && pattern->IsBitField(name);
    };
    if (auto error = FindUnknown(data_->parts, known, bitField, NoSuchCapture))
        return error;
    const int groups = pattern ? pattern->GroupCount() : 0;
    return FindGroup(data_->parts, groups, [groups](int index) {
        return QStringLiteral("the match has %1 expression groups, not %2").arg(groups).arg(index);
    });
}

std::optional<SyntaxError>
ReplyTemplate::FindUndefinedCapture(const std::function<bool(const QString&)>& known) const
{
    const Known none = [](const QString&) { return false; };
    if (auto error = FindUnknown(data_->parts, known, none, NoSuchVariable))
        return error;
    return FindGroup(data_->parts, 0, [](int) {
        return QStringLiteral("expression groups are not kept; name the capture instead");
    });
}

QByteArray ReplyTemplate::Render(QByteArrayView request, const Captures& captures, quint64 counter,
                                 const Scope* outside, QString* cut) const
{
    QByteArray out;
    CaptureScope scope(captures, counter, outside);
    QString reason = RenderParts(data_->parts, request, captures, scope, out);
    if (cut)
        *cut = std::move(reason);
    return out;
}

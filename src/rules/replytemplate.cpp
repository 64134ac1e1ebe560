#include "rules/replytemplate.h"

#include "rules/checksum.h"
#include "rules/lexer.h"

#include <QRegularExpression>

#include <vector>

namespace {

constexpr int kMaxCounterBytes = 8;
constexpr int kMaxGroup = 9999;

struct ReplyPart {
    enum class Kind { Bytes, Capture, Group, Echo, Counter, CounterBytes, Checksum };
    Kind kind = Kind::Bytes;
    QByteArray bytes;
    QString name;  // Capture
    int index = 0; // Group: 1-based; CounterBytes: how many bytes
    ChecksumKind checksum = ChecksumKind::Crc8;
    qsizetype offset = 0;
};

ReplyPart PartOf(ReplyPart::Kind kind, qsizetype offset)
{
    ReplyPart part;
    part.kind = kind;
    part.offset = offset;
    return part;
}

class TemplateReader {
public:
    explicit TemplateReader(SyntaxError& error) : error_(error) {}

    bool Read(const std::vector<Token>& tokens, std::vector<ReplyPart>& parts)
    {
        for (const Token& token : tokens) {
            if (!AddToken(token, parts))
                return false;
        }
        return true;
    }

private:
    bool AddToken(const Token& token, std::vector<ReplyPart>& parts)
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
            return AddBrace(token, parts);
        case Token::Kind::AnyByte:
        case Token::Kind::AnyRun:
        case Token::Kind::Regex:
            break;
        }
        return Fail(token.offset, QStringLiteral("\"??\", \"*\" and re\"...\" are for matching, "
                                                 "not for replies"));
    }

    bool AddBrace(const Token& token, std::vector<ReplyPart>& parts)
    {
        static const QRegularExpression counterBytes(QStringLiteral("^counter:\\s*([0-9]+)$"));
        static const QRegularExpression group(QStringLiteral("^[0-9]+$"));
        const QString& text = token.text;
        if (text == QLatin1String("echo")) {
            parts.push_back(PartOf(ReplyPart::Kind::Echo, token.offset));
        } else if (text == QLatin1String("counter")) {
            parts.push_back(PartOf(ReplyPart::Kind::Counter, token.offset));
        } else if (const auto match = counterBytes.match(text); match.hasMatch()) {
            return AddCounterBytes(token, match.captured(1), parts);
        } else if (group.match(text).hasMatch()) {
            return AddGroup(token, parts);
        } else if (const std::optional<ChecksumKind> kind = ChecksumByName(text)) {
            parts.push_back(PartOf(ReplyPart::Kind::Checksum, token.offset));
            parts.back().checksum = *kind;
        } else if (IsName(text)) {
            parts.push_back(PartOf(ReplyPart::Kind::Capture, token.offset));
            parts.back().name = text;
        } else if (text.contains(u':')) {
            return Fail(token.offset, QStringLiteral("a length is for patterns; a reply writes "
                                                     "{%1}")
                                          .arg(text.section(u':', 0, 0).trimmed()));
        } else {
            return Fail(token.offset, QStringLiteral("\"{%1}\" is not a capture, a checksum or "
                                                     "a built-in name")
                                          .arg(text));
        }
        return true;
    }

    bool AddCounterBytes(const Token& token, const QString& count, std::vector<ReplyPart>& parts)
    {
        bool ok = false;
        const int bytes = count.toInt(&ok);
        if (!ok || bytes < 1 || bytes > kMaxCounterBytes)
            return Fail(token.offset,
                        QStringLiteral("the counter takes 1 to %1 bytes").arg(kMaxCounterBytes));
        parts.push_back(PartOf(ReplyPart::Kind::CounterBytes, token.offset));
        parts.back().index = bytes;
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

    SyntaxError& error_;
};

void AppendBigEndian(QByteArray& out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

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
               : QStringLiteral("nothing sets \"%1\" before it is used").arg(name);
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
        !TemplateReader(error).Read(tokens, data->parts))
        return std::nullopt;
    return ReplyTemplate(std::move(data));
}

std::optional<SyntaxError> ReplyTemplate::FindUndefinedCapture(const Pattern* pattern) const
{
    const int groups = pattern ? pattern->GroupCount() : 0;
    for (const ReplyPart& part : data_->parts) {
        if (part.kind == ReplyPart::Kind::Capture && !(pattern && pattern->HasCapture(part.name)))
            return SyntaxError{part.offset, NoSuchCapture(part.name)};
        if (part.kind == ReplyPart::Kind::Group && part.index > groups)
            return SyntaxError{part.offset, QStringLiteral("the match has %1 expression groups, "
                                                           "not %2")
                                                .arg(groups)
                                                .arg(part.index)};
    }
    return std::nullopt;
}

std::optional<SyntaxError>
ReplyTemplate::FindUndefinedCapture(const std::function<bool(const QString&)>& known) const
{
    for (const ReplyPart& part : data_->parts) {
        if (part.kind == ReplyPart::Kind::Capture && !known(part.name))
            return SyntaxError{part.offset, NoSuchVariable(part.name)};
        if (part.kind == ReplyPart::Kind::Group)
            return SyntaxError{part.offset, QStringLiteral("expression groups are not kept; "
                                                           "name the capture instead")};
    }
    return std::nullopt;
}

QByteArray ReplyTemplate::Render(QByteArrayView request, const Captures& captures,
                                 quint64 counter) const
{
    QByteArray out;
    for (const ReplyPart& part : data_->parts) {
        switch (part.kind) {
        case ReplyPart::Kind::Bytes:
            out += part.bytes;
            break;
        case ReplyPart::Kind::Capture:
            out += captures.named.value(part.name);
            break;
        case ReplyPart::Kind::Group:
            out += captures.groups.value(part.index - 1);
            break;
        case ReplyPart::Kind::Echo:
            out += request;
            break;
        case ReplyPart::Kind::Counter:
            out += QByteArray::number(counter);
            break;
        case ReplyPart::Kind::CounterBytes:
            AppendBigEndian(out, counter, part.index);
            break;
        case ReplyPart::Kind::Checksum:
            out += ChecksumBytes(part.checksum, out);
            break;
        }
    }
    return out;
}

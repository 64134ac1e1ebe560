#include "rules/pattern.h"

#include "rules/lexer.h"
#include "rules/pattern_p.h"

#include <QRegularExpression>
#include <QSet>

namespace {

// Far more than any request needs; it keeps the matcher's recursion shallow.
constexpr size_t kMaxElements = 1000;
// A fixed capture cannot be longer than a stream may hold.
constexpr qsizetype kMaxCaptureLength = 1 << 20;

// Names a reply gives its own meaning, so a capture may not take them.
bool IsReservedName(const QString& name)
{
    return name == QLatin1String("echo") || name == QLatin1String("counter") ||
           ChecksumByName(name).has_value();
}

PatternElement ElementOf(PatternElement::Kind kind)
{
    PatternElement element;
    element.kind = kind;
    return element;
}

class PatternReader {
public:
    PatternReader(TextEncoding encoding, SyntaxError& error) : encoding_(encoding), error_(error) {}

    bool Read(QStringView text, Pattern::Data& data)
    {
        std::vector<Token> tokens;
        if (!Tokenize(text, encoding_, tokens, error_))
            return false;
        if (tokens.empty()) // most likely a slip; "" matches an empty request on purpose
            return Fail(0,
                        QStringLiteral("the pattern is empty; leave match out to match anything"));
        for (const Token& token : tokens) {
            if (!AddToken(token, data))
                return false;
            if (data.elements.size() > kMaxElements)
                return Fail(token.offset, QStringLiteral("the pattern has too many parts"));
        }
        return true;
    }

private:
    bool AddToken(const Token& token, Pattern::Data& data)
    {
        switch (token.kind) {
        case Token::Kind::Bytes:
            AppendBytes(data, token.bytes);
            return true;
        case Token::Kind::AnyByte:
            AppendAnyByte(data);
            return true;
        case Token::Kind::AnyRun:
            data.elements.push_back(ElementOf(PatternElement::Kind::Run));
            return true;
        case Token::Kind::Brace:
            return AddBrace(token, data);
        case Token::Kind::Regex:
            return AddRegex(token, data);
        }
        return false;
    }

    static void AppendBytes(Pattern::Data& data, const QByteArray& bytes)
    {
        if (!data.elements.empty() && data.elements.back().kind == PatternElement::Kind::Literal) {
            data.elements.back().literal += bytes;
            return;
        }
        PatternElement element = ElementOf(PatternElement::Kind::Literal);
        element.literal = bytes;
        data.elements.push_back(std::move(element));
    }

    static void AppendAnyByte(Pattern::Data& data)
    {
        if (!data.elements.empty() && data.elements.back().kind == PatternElement::Kind::AnyBytes) {
            ++data.elements.back().count;
            return;
        }
        PatternElement element = ElementOf(PatternElement::Kind::AnyBytes);
        element.count = 1;
        data.elements.push_back(std::move(element));
    }

    bool AddBrace(const Token& token, Pattern::Data& data)
    {
        static const QRegularExpression capture(QStringLiteral("^([^:]*):\\s*(\\*|[0-9]+)$"));
        const QRegularExpressionMatch parts = capture.match(token.text);
        if (!parts.hasMatch())
            return AddChecksum(token, data);
        const QString name = parts.captured(1).trimmed();
        if (!CheckCaptureName(token, name))
            return false;
        PatternElement element = ElementOf(PatternElement::Kind::Run);
        element.name = name;
        if (parts.captured(2) != QLatin1String("*")) {
            bool ok = false;
            element.kind = PatternElement::Kind::Capture;
            element.count = parts.captured(2).toLongLong(&ok);
            if (!ok || element.count < 1 || element.count > kMaxCaptureLength)
                return Fail(token.offset,
                            QStringLiteral("a capture takes 1 to %1 bytes").arg(kMaxCaptureLength));
        }
        data.elements.push_back(std::move(element));
        return true;
    }

    bool CheckCaptureName(const Token& token, const QString& name)
    {
        if (!IsName(name))
            return Fail(token.offset, QStringLiteral("\"%1\" is not a capture name").arg(name));
        if (IsReservedName(name))
            return Fail(token.offset, QStringLiteral("\"%1\" is a built-in name").arg(name));
        if (names_.contains(name))
            return Fail(token.offset, QStringLiteral("capture \"%1\" is already used").arg(name));
        names_.insert(name);
        return true;
    }

    bool AddChecksum(const Token& token, Pattern::Data& data)
    {
        const std::optional<ChecksumKind> kind = ChecksumByName(token.text);
        if (!kind) {
            QString reason = QStringLiteral("unknown checksum \"%1\" (known: %2)")
                                 .arg(token.text, ChecksumNames().join(QStringLiteral(", ")));
            if (IsName(token.text) && !IsReservedName(token.text))
                reason += QStringLiteral("; a capture needs a length here: {%1:4} or {%1:*}")
                              .arg(token.text);
            return Fail(token.offset, reason);
        }
        PatternElement element = ElementOf(PatternElement::Kind::Checksum);
        element.checksum = *kind;
        data.elements.push_back(std::move(element));
        return true;
    }

    bool AddRegex(const Token& token, Pattern::Data& data)
    {
        QString reason;
        qsizetype at = 0;
        PatternElement element = ElementOf(PatternElement::Kind::Regex);
        element.regex = Regex::Compile(token.bytes, reason, at);
        if (!element.regex) {
            // The byte offset is the character offset unless the expression has escapes or
            // non-ASCII text; keep it inside the expression either way.
            const qsizetype offset = std::min(token.offset + 3 + at, token.end - 1);
            return Fail(offset, QStringLiteral("bad expression: %1").arg(reason));
        }
        element.firstGroup = data.groupCount;
        data.groupCount += element.regex->GroupCount();
        data.elements.push_back(std::move(element));
        return true;
    }

    bool Fail(qsizetype offset, const QString& reason)
    {
        error_ = {offset, reason};
        return false;
    }

    TextEncoding encoding_;
    SyntaxError& error_;
    QSet<QString> names_;
};

void ComputeRests(Pattern::Data& data)
{
    const size_t count = data.elements.size();
    data.minRest.assign(count + 1, 0);
    data.fixedRest.assign(count + 1, true);
    data.runsBefore.assign(count + 1, 0);
    for (size_t i = count; i-- > 0;) {
        data.minRest[i] = data.minRest[i + 1] + data.elements[i].MinLength();
        data.fixedRest[i] = data.fixedRest[i + 1] && data.elements[i].FixedLength();
    }
    for (size_t i = 0; i < count; ++i) {
        const bool run = data.elements[i].kind == PatternElement::Kind::Run;
        data.runsBefore[i + 1] = data.runsBefore[i] + (run ? 1 : 0);
    }
}

} // namespace

qsizetype PatternElement::MinLength() const
{
    switch (kind) {
    case Kind::Literal:
        return literal.size();
    case Kind::AnyBytes:
    case Kind::Capture:
        return count;
    case Kind::Checksum:
        return ChecksumWidth(checksum);
    default:
        return 0;
    }
}

std::optional<Pattern> Pattern::Parse(QStringView text, TextEncoding encoding, SyntaxError& error)
{
    auto data = std::make_shared<Data>();
    if (!PatternReader(encoding, error).Read(text, *data))
        return std::nullopt;
    ComputeRests(*data);
    return Pattern(std::move(data));
}

MatchResult Pattern::Match(QByteArrayView data, MatchMode mode) const
{
    return MatchElements(*data_, data, mode);
}

bool Pattern::HasCapture(const QString& name) const
{
    for (const PatternElement& element : data_->elements) {
        if ((element.kind == PatternElement::Kind::Capture ||
             element.kind == PatternElement::Kind::Run) &&
            element.name == name && !name.isEmpty())
            return true;
    }
    return false;
}

int Pattern::GroupCount() const
{
    return data_->groupCount;
}

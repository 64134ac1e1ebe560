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
    PatternReader(TextEncoding encoding, SyntaxError& error,
                  const std::function<bool(const QString&)>& outside)
        : encoding_(encoding), error_(error), outside_(outside)
    {
    }

    bool Read(QStringView text, Pattern::Data& data)
    {
        std::vector<Token> tokens;
        if (!Tokenize(text, encoding_, tokens, error_))
            return false;
        if (tokens.empty()) // most likely a slip; "" matches an empty request on purpose
            return Fail(0,
                        QStringLiteral("the pattern is empty; leave match out to match anything"));
        for (const Token& token : tokens) {
            const int open = OpenBits(data);
            if (!AddToken(token, data))
                return false;
            if (open != 0 && data.elements.back().kind != PatternElement::Kind::Bits)
                return Fail(token.offset, UnfilledBits(open));
            if (data.elements.size() > kMaxElements)
                return Fail(token.offset, QStringLiteral("the pattern has too many parts"));
        }
        if (const int open = OpenBits(data))
            return Fail(tokens.back().offset, UnfilledBits(open));
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
        case Token::Kind::GroupOpen:
        case Token::Kind::GroupClose:
            break;
        }
        return Fail(token.offset, QStringLiteral("( ) group a reply's bytes; a pattern has no "
                                                 "groups"));
    }

    static QString UnfilledBits(int open)
    {
        return QStringLiteral("bit fields fill whole bytes: %1 bits of this one are not said")
            .arg(8 - open);
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
        const QString& text = token.text;
        const qsizetype colon = text.indexOf(u':');
        if (colon < 0)
            return AddNameOnly(token, data);
        const QString left = text.left(colon).trimmed();
        const QString right = text.mid(colon + 1).trimmed();
        if (IsName(left) && !IsReservedName(left))
            return AddCapture(token, left, right, data);
        if (IsReservedName(left) && !(outside_ && outside_(left)))
            return Fail(token.offset, QStringLiteral("\"%1\" is a built-in name").arg(left));
        return AddComputed(token, left, right, data);
    }

    // {name:*}, {name:4}, {name:2le}, {name:4b} or {name:LENGTH}, LENGTH read from before it.
    bool AddCapture(const Token& token, const QString& name, const QString& right,
                    Pattern::Data& data)
    {
        static const QRegularExpression counted(QStringLiteral("^([0-9]+)\\s*(le|b)?$"));
        if (!CheckCaptureName(token, name))
            return false;
        PatternElement element = ElementOf(PatternElement::Kind::Run);
        element.name = name;
        if (right == QLatin1String("*"))
            return Push(data, std::move(element));
        const QRegularExpressionMatch parts = counted.match(right);
        if (!parts.hasMatch()) {
            element.kind = PatternElement::Kind::Capture;
            element.length = ReadExpression(token, right);
            return element.length && Push(data, std::move(element));
        }
        bool ok = false;
        const qsizetype count = parts.captured(1).toLongLong(&ok);
        if (parts.captured(2) == QLatin1String("b")) {
            bitNames_.insert(name);
            return AddBitField(token, name, int(std::min<qsizetype>(count, 65)), std::nullopt,
                               data);
        }
        element.kind = PatternElement::Kind::Capture;
        element.count = count;
        element.littleEndian = parts.captured(2) == QLatin1String("le");
        if (!ok || count < 1 || count > kMaxCaptureLength)
            return Fail(token.offset,
                        QStringLiteral("a capture takes 1 to %1 bytes").arg(kMaxCaptureLength));
        if (element.littleEndian && count > 8)
            return Fail(token.offset, QStringLiteral("a little-endian number takes 1 to 8 bytes"));
        return Push(data, std::move(element));
    }

    // {EXPRESSION:WIDTH}: the request holds that number there.
    bool AddComputed(const Token& token, const QString& left, const QString& right,
                     Pattern::Data& data)
    {
        QString reason;
        const std::optional<NumberWidth> width = NumberWidth::Parse(right, reason);
        if (!width)
            return Fail(token.offset,
                        reason.isEmpty()
                            ? QStringLiteral("a number is matched with a width: {%1:2}").arg(left)
                            : reason);
        std::optional<Expression> value = ReadExpression(token, left);
        if (!value)
            return false;
        if (width->bits)
            return AddBitField(token, QString(), width->size, std::move(value), data);
        PatternElement element = ElementOf(PatternElement::Kind::Computed);
        element.count = width->size;
        element.littleEndian = width->littleEndian;
        element.value = std::move(value);
        return Push(data, std::move(element));
    }

    bool AddBitField(const Token& token, const QString& name, int bits,
                     std::optional<Expression> value, Pattern::Data& data)
    {
        if (bits < 1 || bits > 64)
            return Fail(token.offset, QStringLiteral("a bit field takes 1 to 64 bits"));
        if (OpenBits(data) == 0)
            data.elements.push_back(ElementOf(PatternElement::Kind::Bits));
        PatternElement& element = data.elements.back();
        const int offset =
            element.fields.empty() ? 0 : element.fields.back().offset + element.fields.back().bits;
        element.fields.push_back({name, bits, offset, std::move(value)});
        element.count = (offset + bits + 7) / 8;
        return true;
    }

    // {name}: the bytes an earlier capture or a variable holds; or a checksum.
    bool AddNameOnly(const Token& token, Pattern::Data& data)
    {
        const QString& name = token.text;
        if (ChecksumByName(name) || !IsName(name) || (IsReservedName(name) && !Known(name)))
            return AddChecksum(token, data);
        if (!Known(name))
            return Fail(token.offset, UnknownName(name));
        if (bitNames_.contains(name))
            return Fail(token.offset,
                        QStringLiteral("\"%1\" is a bit field, a number: match it with a width, "
                                       "{%1:1}")
                            .arg(name));
        PatternElement element = ElementOf(PatternElement::Kind::Reference);
        element.name = name;
        return Push(data, std::move(element));
    }

    std::optional<Expression> ReadExpression(const Token& token, const QString& text)
    {
        SyntaxError error;
        std::optional<Expression> expression = Expression::Parse(text, error);
        if (expression) {
            if (const auto unknown =
                    expression->FindUnknownName([this](const QString& n) { return Known(n); }))
                error = *unknown;
            else
                return expression;
        }
        Fail(token.offset + 1 + error.offset, error.reason);
        return std::nullopt;
    }

    // Captured before this point, or given from outside the pattern.
    bool Known(const QString& name) const
    {
        return names_.contains(name) || (outside_ && outside_(name));
    }

    static QString UnknownName(const QString& name)
    {
        static const QRegularExpression checksumLike(QStringLiteral("^(crc|sum|xor|lrc)"));
        if (checksumLike.match(name).hasMatch())
            return QStringLiteral("unknown checksum \"%1\" (known: %2)")
                .arg(name, ChecksumNames().join(QStringLiteral(", ")));
        return QStringLiteral("unknown name \"%1\"; a capture needs a length here: {%1:4} or "
                              "{%1:*}")
            .arg(name);
    }

    static bool Push(Pattern::Data& data, PatternElement element)
    {
        data.elements.push_back(std::move(element));
        return true;
    }

    // Bits of the last byte that bit fields have begun and not yet filled.
    static int OpenBits(const Pattern::Data& data)
    {
        if (data.elements.empty() || data.elements.back().kind != PatternElement::Kind::Bits)
            return 0;
        const BitField& last = data.elements.back().fields.back();
        return (last.offset + last.bits) % 8;
    }

    bool CheckCaptureName(const Token& token, const QString& name)
    {
        if (!IsName(name))
            return Fail(token.offset, QStringLiteral("\"%1\" is not a capture name").arg(name));
        if (IsReservedName(name))
            return Fail(token.offset, QStringLiteral("\"%1\" is a built-in name").arg(name));
        if (names_.contains(name))
            return Fail(token.offset, QStringLiteral("capture \"%1\" is already used; {%1} "
                                                     "matches its bytes again")
                                          .arg(name));
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
    const std::function<bool(const QString&)>& outside_;
    QSet<QString> names_;
    QSet<QString> bitNames_;
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
        data.dependent = data.dependent || data.elements[i].Dependent();
        data.looksAhead = data.looksAhead || data.elements[i].kind == PatternElement::Kind::Regex;
    }
}

} // namespace

qsizetype PatternElement::MinLength() const
{
    switch (kind) {
    case Kind::Literal:
        return literal.size();
    case Kind::Capture:
        return length ? 0 : count;
    case Kind::AnyBytes:
    case Kind::Bits:
    case Kind::Computed:
        return count;
    case Kind::Checksum:
        return ChecksumWidth(checksum);
    default:
        return 0;
    }
}

std::optional<Pattern> Pattern::Parse(QStringView text, TextEncoding encoding, SyntaxError& error,
                                      const std::function<bool(const QString&)>& outside)
{
    auto data = std::make_shared<Data>();
    if (!PatternReader(encoding, error, outside).Read(text, *data))
        return std::nullopt;
    ComputeRests(*data);
    return Pattern(std::move(data));
}

MatchResult Pattern::Match(QByteArrayView data, MatchMode mode, const Scope* outside,
                           qsizetype searched) const
{
    if (const QByteArray* fixed = FixedBytes())
        return MatchFixedBytes(*fixed, data, mode, searched);
    return MatchElements(*data_, data, mode, outside, searched);
}

const QByteArray* Pattern::FixedBytes() const
{
    const std::vector<PatternElement>& elements = data_->elements;
    return elements.size() == 1 && elements.front().kind == PatternElement::Kind::Literal
               ? &elements.front().literal
               : nullptr;
}

bool Pattern::HasCapture(const QString& name) const
{
    for (const PatternElement& element : data_->elements) {
        if ((element.kind == PatternElement::Kind::Capture ||
             element.kind == PatternElement::Kind::Run) &&
            element.name == name && !name.isEmpty())
            return true;
    }
    return IsBitField(name);
}

bool Pattern::IsBitField(const QString& name) const
{
    for (const PatternElement& element : data_->elements) {
        for (const BitField& field : element.fields) {
            if (field.name == name && !name.isEmpty())
                return true;
        }
    }
    return false;
}

int Pattern::GroupCount() const
{
    return data_->groupCount;
}

#include "rules/expression.h"

#include <array>

struct Expression::Node {
    enum class Op {
        Number,
        Name,
        Byte,
        Len,
        State,
        StateAt,
        Negate,
        Invert,
        Multiply,
        Divide,
        Remainder,
        Add,
        Subtract,
        ShiftLeft,
        ShiftRight,
        And,
        Xor,
        Or
    };
    Op op = Op::Number;
    quint64 value = 0;
    QString name;
    int left = -1;
    int right = -1;
    qsizetype offset = 0;
};

using Node = Expression::Node;
using Op = Node::Op;

namespace {

// Expressions are written inside braces by hand; anything deeper is a mistake.
constexpr int kMaxDepth = 64;

struct BinaryOperator {
    const char* text;
    Op op;
};

// Loosest first, as in C.
const std::array<std::vector<BinaryOperator>, 6> kLevels = {{
    {{"|", Op::Or}},
    {{"^", Op::Xor}},
    {{"&", Op::And}},
    {{"<<", Op::ShiftLeft}, {">>", Op::ShiftRight}},
    {{"+", Op::Add}, {"-", Op::Subtract}},
    {{"*", Op::Multiply}, {"/", Op::Divide}, {"%", Op::Remainder}},
}};

bool IsNameChar(QChar c, bool first)
{
    return c.isLetter() || c == u'_' || (!first && c.isDigit());
}

class ExpressionReader {
public:
    ExpressionReader(QStringView text, std::vector<Node>& nodes, SyntaxError& error)
        : text_(text), nodes_(nodes), error_(error)
    {
    }

    bool Read()
    {
        if (Binary(0, 0) < 0)
            return false;
        SkipBlanks();
        if (pos_ < text_.size())
            return Fail(pos_,
                        QStringLiteral("unexpected '%1' in the expression").arg(text_.at(pos_)));
        return true;
    }

private:
    int Binary(size_t level, int depth)
    {
        if (level == kLevels.size())
            return Unary(depth);
        int left = Binary(level + 1, depth);
        while (left >= 0) {
            SkipBlanks();
            const BinaryOperator* found = OperatorAt(level);
            if (!found)
                break;
            const qsizetype at = pos_;
            pos_ += qsizetype(qstrlen(found->text));
            const int right = Binary(level + 1, depth);
            if (right < 0)
                return -1;
            left = Add({found->op, 0, {}, left, right, at});
        }
        return left;
    }

    const BinaryOperator* OperatorAt(size_t level) const
    {
        for (const BinaryOperator& candidate : kLevels[level]) {
            const QString text = QString::fromLatin1(candidate.text);
            // "<" alone is no operator; "<<" is only a shift.
            if (text_.mid(pos_).startsWith(text))
                return &candidate;
        }
        return nullptr;
    }

    int Unary(int depth)
    {
        if (depth > kMaxDepth)
            return Failed(pos_, QStringLiteral("the expression is nested too deeply"));
        SkipBlanks();
        const qsizetype at = pos_;
        if (Take(u'-') || Take(u'~')) {
            const int operand = Unary(depth + 1);
            const Op op = text_.at(at) == u'-' ? Op::Negate : Op::Invert;
            return operand < 0 ? -1 : Add({op, 0, {}, operand, -1, at});
        }
        if (Take(u'(')) {
            const int inner = Binary(0, depth + 1);
            SkipBlanks();
            if (inner >= 0 && !Take(u')'))
                return Failed(at, QStringLiteral("'(' has no closing ')'"));
            return inner;
        }
        if (at < text_.size() && text_.at(at).isDigit())
            return ReadNumber();
        if (at < text_.size() && IsNameChar(text_.at(at), true))
            return ReadName(depth);
        return Failed(at,
                      at < text_.size()
                          ? QStringLiteral("unexpected '%1' in the expression").arg(text_.at(at))
                          : QStringLiteral("the expression ends too soon"));
    }

    int ReadNumber()
    {
        const qsizetype at = pos_;
        while (pos_ < text_.size() && text_.at(pos_).isLetterOrNumber())
            ++pos_;
        const QStringView digits = text_.sliced(at, pos_ - at);
        bool ok = false;
        quint64 value = 0;
        const bool hex = digits.startsWith(u"0x") || digits.startsWith(u"0X");
        const bool binary = digits.startsWith(u"0b") || digits.startsWith(u"0B");
        // A leading 0 is not octal: 010 is ten, as anyone but C would read it.
        value = digits.mid(hex || binary ? 2 : 0).toULongLong(&ok, hex ? 16 : binary ? 2 : 10);
        if (!ok)
            return Failed(at, QStringLiteral("\"%1\" is not a number").arg(digits));
        return Add({Op::Number, value, {}, -1, -1, at});
    }

    int ReadName(int depth)
    {
        const qsizetype at = pos_;
        QString name = ReadWord();
        const bool state = name == QLatin1String("state") && Take(u'.');
        if (state) {
            const QString member = ReadWord();
            if (member.isEmpty())
                return Failed(pos_, QStringLiteral("state. is followed by a name"));
            name += u'.' + member;
        }
        SkipBlanks();
        if (!state && name == QLatin1String("len") && Take(u'('))
            return ReadLength(at);
        if (!Take(u'['))
            return Add({state ? Op::State : Op::Name, 0, name, -1, -1, at});
        const int index = Binary(0, depth + 1);
        SkipBlanks();
        if (index >= 0 && !Take(u']'))
            return Failed(at, QStringLiteral("'[' has no closing ']'"));
        return index < 0 ? -1 : Add({state ? Op::StateAt : Op::Byte, 0, name, index, -1, at});
    }

    int ReadLength(qsizetype at)
    {
        SkipBlanks();
        const QString name = ReadWord();
        SkipBlanks();
        if (name.isEmpty() || !Take(u')'))
            return Failed(at, QStringLiteral("len takes a capture: len(name)"));
        return Add({Op::Len, 0, name, -1, -1, at});
    }

    QString ReadWord()
    {
        const qsizetype start = pos_;
        while (pos_ < text_.size() && IsNameChar(text_.at(pos_), pos_ == start))
            ++pos_;
        return text_.sliced(start, pos_ - start).toString();
    }

    void SkipBlanks()
    {
        while (pos_ < text_.size() && text_.at(pos_).isSpace())
            ++pos_;
    }

    bool Take(QChar c)
    {
        if (pos_ >= text_.size() || text_.at(pos_) != c)
            return false;
        ++pos_;
        return true;
    }

    int Add(Node node)
    {
        nodes_.push_back(std::move(node));
        return int(nodes_.size()) - 1;
    }

    int Failed(qsizetype offset, const QString& reason)
    {
        Fail(offset, reason);
        return -1;
    }

    bool Fail(qsizetype offset, const QString& reason)
    {
        if (error_.reason.isEmpty())
            error_ = {offset, reason};
        return false;
    }

    QStringView text_;
    std::vector<Node>& nodes_;
    SyntaxError& error_;
    qsizetype pos_ = 0;
};

quint64 Shift(quint64 value, quint64 by, bool left)
{
    if (by >= 64)
        return 0;
    return left ? value << by : value >> by;
}

quint64 Apply(Op op, quint64 a, quint64 b)
{
    switch (op) {
    case Op::Multiply:
        return a * b;
    case Op::Divide:
        return b == 0 ? 0 : a / b;
    case Op::Remainder:
        return b == 0 ? 0 : a % b;
    case Op::Add:
        return a + b;
    case Op::Subtract:
        return a - b;
    case Op::ShiftLeft:
        return Shift(a, b, true);
    case Op::ShiftRight:
        return Shift(a, b, false);
    case Op::And:
        return a & b;
    case Op::Xor:
        return a ^ b;
    case Op::Or:
        return a | b;
    default:
        return 0;
    }
}

quint64 EvaluateNode(const std::vector<Node>& nodes, int at, const Scope& scope)
{
    const Node& node = nodes[size_t(at)];
    switch (node.op) {
    case Op::Number:
        return node.value;
    case Op::Name:
        return scope.Number(node.name).value_or(0);
    case Op::Byte: {
        const quint64 index = EvaluateNode(nodes, node.left, scope);
        const QByteArray bytes = scope.Bytes(node.name).value_or(QByteArray());
        return index < quint64(bytes.size()) ? quint64(static_cast<unsigned char>(bytes[index]))
                                             : 0;
    }
    case Op::Len:
        return quint64(scope.Bytes(node.name).value_or(QByteArray()).size());
    case Op::State:
        return scope.State(node.name, std::nullopt).value_or(0);
    case Op::StateAt:
        return scope.State(node.name, EvaluateNode(nodes, node.left, scope)).value_or(0);
    case Op::Negate:
        return 0 - EvaluateNode(nodes, node.left, scope);
    case Op::Invert:
        return ~EvaluateNode(nodes, node.left, scope);
    default:
        return Apply(node.op, EvaluateNode(nodes, node.left, scope),
                     EvaluateNode(nodes, node.right, scope));
    }
}

} // namespace

std::optional<quint64> Scope::Number(const QString& name) const
{
    const std::optional<QByteArray> bytes = Bytes(name);
    if (!bytes)
        return std::nullopt;
    return BigEndianValue(*bytes);
}

std::optional<quint64> Scope::State(const QString&, std::optional<quint64>) const
{
    return std::nullopt;
}

quint64 BigEndianValue(QByteArrayView bytes)
{
    quint64 value = 0;
    for (char byte : bytes.last(std::min<qsizetype>(bytes.size(), 8)))
        value = value << 8 | static_cast<unsigned char>(byte);
    return value;
}

quint64 LittleEndianValue(QByteArrayView bytes)
{
    quint64 value = 0;
    const QByteArrayView low = bytes.first(std::min<qsizetype>(bytes.size(), 8));
    for (qsizetype i = low.size(); i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(low[i]);
    return value;
}

void AppendNumber(QByteArray& out, quint64 value, int width, bool littleEndian)
{
    for (int i = 0; i < width; ++i) {
        const int shift = 8 * (littleEndian ? i : width - 1 - i);
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

std::optional<NumberWidth> NumberWidth::Parse(QStringView text, QString& reason)
{
    qsizetype digits = 0;
    while (digits < text.size() && text.at(digits).isDigit())
        ++digits;
    const QStringView suffix = text.mid(digits).trimmed();
    if (digits == 0 || !(suffix.isEmpty() || suffix == u"le" || suffix == u"b"))
        return std::nullopt;
    NumberWidth width;
    width.size = text.first(digits).toInt();
    width.littleEndian = suffix == u"le";
    width.bits = suffix == u"b";
    const int most = width.bits ? 64 : 8;
    if (width.size < 1 || width.size > most) {
        reason = width.bits ? QStringLiteral("a bit field takes 1 to 64 bits")
                            : QStringLiteral("a number takes 1 to 8 bytes");
        return std::nullopt;
    }
    return width;
}

std::optional<Expression> Expression::Parse(QStringView text, SyntaxError& error)
{
    auto nodes = std::make_shared<std::vector<Node>>();
    error = {};
    if (!ExpressionReader(text, *nodes, error).Read())
        return std::nullopt;
    return Expression(std::move(nodes));
}

quint64 Expression::Evaluate(const Scope& scope) const
{
    return EvaluateNode(*nodes_, int(nodes_->size()) - 1, scope);
}

std::optional<SyntaxError>
Expression::FindUnknownName(const std::function<bool(const QString&)>& known) const
{
    for (const Node& node : *nodes_) {
        if (node.name.isEmpty())
            continue;
        // A table is asked for as "state.NAME[]", so that either form read as the other is told.
        const QString table = node.name + QLatin1String("[]");
        const bool indexed = node.op == Op::StateAt;
        if (known(indexed ? table : node.name))
            continue;
        if (indexed && known(node.name))
            return SyntaxError{node.offset,
                               QStringLiteral("\"%1\" is one value, not a table").arg(node.name)};
        if (node.op == Op::State && known(table))
            return SyntaxError{node.offset,
                               QStringLiteral("\"%1\" is a table: write %1[INDEX]").arg(node.name)};
        return SyntaxError{node.offset, QStringLiteral("unknown name \"%1\"").arg(node.name)};
    }
    return std::nullopt;
}

bool Expression::IsName() const
{
    return nodes_->size() == 1 && nodes_->back().op == Op::Name;
}

bool Expression::Reads(const QString& name) const
{
    for (const Node& node : *nodes_) {
        if (node.name == name)
            return true;
    }
    return false;
}

#include "rules/standinstate.h"

#include "rules/lexer.h"

#include <QStringList>

namespace {

// A summary line stays a line: the rest of a large table is counted, not listed.
constexpr int kMostListed = 32;

std::optional<Expression> ExpressionAt(QStringView text, qsizetype offset, SyntaxError& error)
{
    std::optional<Expression> expression = Expression::Parse(text, error);
    error.offset += offset;
    return expression;
}

// "reg[addr + 1]" or "count", with or without "state." before it.
bool ReadTarget(QStringView text, qsizetype offset, Assignment& assignment, SyntaxError& error)
{
    const QStringView written = text.trimmed();
    const qsizetype start = offset + (written.data() - text.data());
    const qsizetype prefix = written.startsWith(u"state.") ? 6 : 0;
    const QStringView target = written.mid(prefix);
    const qsizetype bracket = target.indexOf(u'[');
    const QStringView name = (bracket < 0 ? target : target.first(bracket)).trimmed();
    assignment.target = name.toString();
    assignment.targetOffset = start;
    if (!IsName(name)) {
        error = {start, QStringLiteral("set writes NAME = VALUE or NAME[INDEX] = VALUE")};
        return false;
    }
    if (bracket < 0)
        return true;
    if (!target.endsWith(u']')) {
        error = {start, QStringLiteral("'[' has no closing ']'")};
        return false;
    }
    const QStringView index = target.sliced(bracket + 1, target.size() - bracket - 2);
    assignment.indexOffset = start + prefix + bracket + 1;
    assignment.index = ExpressionAt(index, assignment.indexOffset, error);
    return assignment.index.has_value();
}

} // namespace

std::optional<Assignment> Assignment::Parse(QStringView text, SyntaxError& error)
{
    Assignment assignment;
    qsizetype from = 0;
    const QStringView trimmed = text.trimmed();
    if (trimmed.startsWith(u"repeat ") || trimmed.startsWith(u"repeat(")) {
        const qsizetype keyword = text.indexOf(u"repeat");
        const qsizetype colon = text.indexOf(u':');
        if (colon < 0) {
            error = {keyword, QStringLiteral("write repeat COUNT: TARGET = VALUE")};
            return std::nullopt;
        }
        const qsizetype count = keyword + 6;
        assignment.repeatOffset = count;
        assignment.repeat = ExpressionAt(text.sliced(count, colon - count), count, error);
        if (!assignment.repeat)
            return std::nullopt;
        from = colon + 1;
    }
    const qsizetype equals = text.indexOf(u'=', from);
    if (equals < 0) {
        error = {from, QStringLiteral("set writes NAME = VALUE or NAME[INDEX] = VALUE")};
        return std::nullopt;
    }
    if (!ReadTarget(text.sliced(from, equals - from), from, assignment, error))
        return std::nullopt;
    assignment.valueOffset = equals + 1;
    assignment.value = ExpressionAt(text.mid(equals + 1), equals + 1, error);
    if (!assignment.value)
        return std::nullopt;
    return assignment;
}

std::optional<SyntaxError>
Assignment::FindUnknownName(const std::function<bool(const QString&)>& known) const
{
    // An expression's names sit where it starts in the statement.
    const auto find = [](const Expression& expression, qsizetype offset, const auto& names) {
        std::optional<SyntaxError> unknown = expression.FindUnknownName(names);
        if (unknown)
            unknown->offset += offset;
        return unknown;
    };
    if (repeat) {
        if (auto unknown = find(*repeat, repeatOffset, known))
            return unknown;
    }
    // Only the statement's own index and value see `index`.
    const std::function<bool(const QString&)> inside = [&](const QString& name) {
        return (repeat && name == QLatin1String("index")) || known(name);
    };
    if (index) {
        if (auto unknown = find(*index, indexOffset, inside))
            return unknown;
    }
    return find(*value, valueOffset, inside);
}

void StandInState::Declare(const std::vector<StateDeclaration>& declarations)
{
    QStringList order;
    QHash<QString, quint64> values;
    QHash<QString, QMap<quint64, quint64>> tables;
    for (const StateDeclaration& declaration : declarations) {
        order << declaration.name;
        if (!declaration.table) {
            values.insert(declaration.name, values_.value(declaration.name, declaration.value));
            continue;
        }
        if (tables_.contains(declaration.name)) {
            tables.insert(declaration.name, tables_.value(declaration.name));
            continue;
        }
        QMap<quint64, quint64>& table = tables[declaration.name];
        for (size_t i = 0; i < declaration.initial.size(); ++i)
            table.insert(i, declaration.initial[i]);
    }
    order_ = order;
    values_ = values;
    tables_ = tables;
}

std::optional<QByteArray> StandInState::Bytes(const QString&) const
{
    return std::nullopt;
}

std::optional<quint64> StandInState::State(const QString& name, std::optional<quint64> index) const
{
    const QString bare = name.startsWith(QLatin1String("state.")) ? name.mid(6) : name;
    if (!index) {
        const auto found = values_.constFind(bare);
        return found == values_.constEnd() ? std::nullopt : std::optional<quint64>(*found);
    }
    const auto table = tables_.constFind(bare);
    if (table == tables_.constEnd())
        return std::nullopt;
    return table->value(*index, 0);
}

QString StandInState::Apply(const Assignment& assignment, CaptureScope& scope)
{
    // A stand-in answers at once; a count this large is a mistake in the rules, not a device.
    constexpr quint64 kMostRepeats = 65536;
    const quint64 wanted = assignment.repeat ? assignment.repeat->Evaluate(scope) : 1;
    const quint64 times = std::min(wanted, kMostRepeats);
    const std::optional<quint64> outer = scope.index;
    bool stored = true;
    for (quint64 i = 0; i < times; ++i) {
        if (assignment.repeat)
            scope.index = i;
        stored = Store(assignment, scope) && stored;
    }
    scope.index = outer;
    if (!stored)
        return QStringLiteral("table %1 holds %2 entries, the most it may")
            .arg(assignment.target)
            .arg(kMostEntries);
    return wanted > times ? QStringLiteral("repeat %1 goes over 65,536").arg(wanted) : QString();
}

// False when the table is full and the index a new one.
bool StandInState::Store(const Assignment& assignment, const CaptureScope& scope)
{
    const quint64 value = assignment.value->Evaluate(scope);
    if (!assignment.index) {
        if (values_.contains(assignment.target))
            values_[assignment.target] = value;
        return true;
    }
    const auto table = tables_.find(assignment.target);
    if (table == tables_.end())
        return true;
    const quint64 index = assignment.index->Evaluate(scope);
    if (table->size() >= kMostEntries && !table->contains(index))
        return false;
    table->insert(index, value);
    return true;
}

QString StandInState::Summary() const
{
    QStringList parts;
    for (const QString& name : order_) {
        if (values_.contains(name)) {
            parts << QStringLiteral("%1=%2").arg(name).arg(values_.value(name));
            continue;
        }
        const QMap<quint64, quint64> table = tables_.value(name);
        int listed = 0;
        for (auto it = table.cbegin(); it != table.cend() && listed < kMostListed; ++it, ++listed)
            parts << QStringLiteral("%1[%2]=%3").arg(name).arg(it.key()).arg(it.value());
        if (table.size() > listed)
            parts << QStringLiteral("%1: %2 more").arg(name).arg(table.size() - listed);
    }
    return parts.join(QStringLiteral(", "));
}

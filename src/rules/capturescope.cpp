#include "rules/pattern.h"

std::optional<QByteArray> CaptureScope::Bytes(const QString& name) const
{
    const auto found = captures_.named.constFind(name);
    if (found != captures_.named.constEnd())
        return *found;
    if (name == QLatin1String("counter")) // as {counter} writes it
        return QByteArray::number(counter_);
    return outside_ ? outside_->Bytes(name) : std::nullopt;
}

std::optional<quint64> CaptureScope::Number(const QString& name) const
{
    const auto found = captures_.numbers.constFind(name);
    if (found != captures_.numbers.constEnd())
        return *found;
    if (index && name == QLatin1String("index"))
        return index;
    if (const auto bytes = captures_.named.constFind(name); bytes != captures_.named.constEnd())
        return BigEndianValue(*bytes);
    if (name == QLatin1String("counter"))
        return counter_;
    return outside_ ? outside_->Number(name) : std::nullopt;
}

std::optional<quint64> CaptureScope::State(const QString& name, std::optional<quint64> at) const
{
    return outside_ ? outside_->State(name, at) : std::nullopt;
}

#include "cli/payloads.h"

#include "rules/checksum.h"
#include "rules/lexer.h"

namespace {

CliFailure WrongAt(const QString& what, const SyntaxError& error)
{
    return {kWrongInput,
            QStringLiteral("%1, column %2: %3").arg(what).arg(error.offset + 1).arg(error.reason)};
}

// Names a template reads as something else ({echo}, {counter}, {crc16}) cannot be variables.
bool IsVariableName(const QString& name)
{
    return IsName(name) && name != QLatin1String("echo") && name != QLatin1String("counter") &&
           !ChecksumByName(name);
}

} // namespace

std::optional<ReplyTemplate> TemplateArgument(const QString& text, const QString& what,
                                              CliFailure& failure)
{
    SyntaxError error;
    std::optional<ReplyTemplate> payload = ReplyTemplate::Parse(text, TextEncoding::Utf8, error);
    if (payload) {
        if (const auto undefined =
                payload->FindUndefinedCapture([](const QString&) { return false; }))
            error = *undefined;
        else
            return payload;
    }
    failure = WrongAt(what, error);
    return std::nullopt;
}

std::optional<Expectation> ExpectationArgument(const QString& text, const QString& what,
                                               CliFailure& failure)
{
    SyntaxError error;
    std::optional<Expectation> expectation =
        Expectation::Parse(text, TextEncoding::Utf8, error,
                           [](const QString& name) { return name == QLatin1String("counter"); });
    if (!expectation)
        failure = WrongAt(what, error);
    return expectation;
}

std::optional<QByteArray> BytesArgument(const QString& text, const QString& what,
                                        CliFailure& failure)
{
    const std::optional<ReplyTemplate> payload = TemplateArgument(text, what, failure);
    if (!payload)
        return std::nullopt;
    QString cut;
    const QByteArray bytes = payload->Render({}, {}, 1, nullptr, &cut);
    if (cut.isEmpty())
        return bytes;
    failure = {kWrongInput, QStringLiteral("%1: %2").arg(what, CutPayload(bytes, cut))};
    return std::nullopt;
}

QString CutPayload(const QByteArray& bytes, const QString& reason)
{
    return QStringLiteral("the payload stops at %1 bytes: %2").arg(bytes.size()).arg(reason);
}

std::optional<QHash<QString, QByteArray>> VariableArguments(const QStringList& values,
                                                            CliFailure& failure)
{
    QHash<QString, QByteArray> variables;
    for (const QString& value : values) {
        const qsizetype equals = value.indexOf(u'=');
        const QString name = value.left(equals);
        if (equals < 0 || !IsVariableName(name)) {
            failure = {kWrongInput, QStringLiteral("--var %1: write NAME=PAYLOAD, NAME a letter or "
                                                   "_ then letters, digits or _ (not echo, counter "
                                                   "or a checksum)")
                                        .arg(value)};
            return std::nullopt;
        }
        const std::optional<QByteArray> bytes =
            BytesArgument(value.mid(equals + 1), QStringLiteral("--var %1").arg(name), failure);
        if (!bytes)
            return std::nullopt;
        variables.insert(name, *bytes);
    }
    return variables;
}

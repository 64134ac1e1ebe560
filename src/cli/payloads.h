#pragma once

#include "cli/conventions.h"
#include "cli/expectation.h"
#include "rules/replytemplate.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// Payloads and expectations typed on the command line, in UTF-8. A mistake is a status-2
// failure naming the option (`what`) and the column.
std::optional<ReplyTemplate> TemplateArgument(const QString& text, const QString& what,
                                              CliFailure& failure);
// The expectation may read "counter", the number of the send it answers.
std::optional<Expectation> ExpectationArgument(const QString& text, const QString& what,
                                               CliFailure& failure);

// A payload that needs nothing from a request (no capture), as bytes.
std::optional<QByteArray> BytesArgument(const QString& text, const QString& what,
                                        CliFailure& failure);

// Why a payload of `bytes` is not all its template asks for ("the payload stops at 16 bytes: ...").
QString CutPayload(const QByteArray& bytes, const QString& reason);

// --var NAME=PAYLOAD values, by name.
std::optional<QHash<QString, QByteArray>> VariableArguments(const QStringList& values,
                                                            CliFailure& failure);

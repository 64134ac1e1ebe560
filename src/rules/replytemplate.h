#pragma once

#include "rules/pattern.h"
#include "rules/syntax.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

// The bytes a rule sends back: fixed bytes, what the request's captures held, the request
// itself, the rule's hit counter, numbers worked out from captures and state, length fields,
// repeated groups, and checksums over what comes before them.
class ReplyTemplate {
public:
    static std::optional<ReplyTemplate> Parse(QStringView text, TextEncoding encoding,
                                              SyntaxError& error);

    // The first capture the template uses that `pattern` does not make (null: a rule that
    // matches anything makes none) and `outside` does not know ("state.reg").
    std::optional<SyntaxError>
    FindUndefinedCapture(const Pattern* pattern,
                         const std::function<bool(const QString&)>& outside = {}) const;
    // The same where the names come from elsewhere (a script's earlier answers, values given on
    // the command line): the first capture `known` says no to, or any expression group.
    std::optional<SyntaxError>
    FindUndefinedCapture(const std::function<bool(const QString&)>& known) const;

    // `counter` is the rule's hit count, this hit included; `outside` gives what else the
    // template reads (a stand-in's state). A template that asks for more than a reply may hold
    // is rendered up to its limits, and `cut` says which was reached (empty when none).
    QByteArray Render(QByteArrayView request, const Captures& captures, quint64 counter,
                      const Scope* outside = nullptr, QString* cut = nullptr) const;

    struct Data;

private:
    explicit ReplyTemplate(std::shared_ptr<const Data> data) : data_(std::move(data)) {}

    std::shared_ptr<const Data> data_;
};

#pragma once

#include "rules/pattern.h"
#include "rules/replytemplate.h"
#include "rules/standinstate.h"
#include "rules/syntax.h"
#include "rules/values.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

enum class Protocol { Tcp, Udp };

struct Rule {
    QString name;
    std::optional<Pattern> match;       // none: any request
    QString matchText;                  // as written, for telling where a request departs
    std::vector<ReplyTemplate> replies; // sent in turn; none: the request is swallowed
    std::vector<Assignment> sets;       // done in order when the rule matches, before replying
    std::chrono::milliseconds delay{0};
    bool close = false; // close the TCP connection after the reply
    std::optional<AddressRange> from;
    bool tcp = true;
    bool udp = true;

    bool Accepts(Protocol protocol, const QHostAddress& peer) const;
};

struct RuleSet {
    std::chrono::milliseconds idle{200}; // unmatched stream bytes are dropped after this quiet
    TextEncoding encoding = TextEncoding::Utf8;
    std::vector<Rule> rules; // tried in this order
    std::vector<StateDeclaration> state;

    // Whether `name` ("state.reg") is declared, and as a table.
    bool DeclaresState(const QString& name) const;
    bool DeclaresTable(const QString& name) const;
    // Whether an expression may read `name`: "state.NAME" for a value, "state.NAME[]" for an
    // element of a table.
    bool ReadsState(const QString& name) const;
};

struct RulesLoad {
    std::optional<RuleSet> rules; // none when there is any error
    QStringList errors;           // "FILE:LINE:COLUMN: reason", in the order they were found
};

RulesLoad LoadRulesFile(const QString& path);

// The same from text in memory; `fileName` is only for the messages.
RulesLoad ParseRulesText(const QByteArray& text, const QString& fileName);

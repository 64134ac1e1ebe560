#include "rules/rulesfile.h"

#include "rules/lexer.h"
#include "rules/regularfile.h"
#include "rules/tomlreader.h"

#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace {

// A rules file is written by hand; anything this large is a mistake.
constexpr qint64 kMaxFileSize = 16 << 20;

// Where a name may not be confused with the summary line's separators.
bool IsRuleName(const QString& name)
{
    static const QRegularExpression bad(QStringLiteral("[\\s,\\x00-\\x1F\\x7F]"));
    return !name.isEmpty() && !bad.match(name).hasMatch() && name != QLatin1String("(none)");
}

class RulesReader : TomlReader {
public:
    RulesReader(const QByteArray& text, const QString& fileName) : TomlReader(text, fileName) {}

    RulesLoad Read()
    {
        if (const std::optional<toml::table> document = Parse())
            ReadTopLevel(*document);
        RulesLoad load;
        load.errors = Errors();
        if (load.errors.isEmpty())
            load.rules = std::move(set_);
        return load;
    }

private:
    void ReadTopLevel(const toml::table& document);
    void ReadEncoding(const toml::node& node);
    void ReadState(const toml::node& node);
    bool ReadStateValue(const toml::key& key, const toml::node& node);
    bool ReadSets(const toml::node& node, Rule& rule);
    bool ReadSet(const toml::node& node, Rule& rule);
    void ReadRules(const toml::node& node);
    void ReadRule(const toml::table& table);
    bool ReadRuleKey(const toml::key& key, const toml::node& node, Rule& rule);
    bool ReadName(const toml::node& node, Rule& rule);
    bool ReadMatch(const toml::node& node, Rule& rule);
    bool ReadReplies(const toml::node& node, Rule& rule);
    bool ReadReply(const toml::node& node, Rule& rule);
    bool ReadProtocol(const toml::node& node, Rule& rule);

    RuleSet set_;
    QHash<QString, int> nameLines_;
    bool checkCaptures_ = true;
};

void RulesReader::ReadTopLevel(const toml::table& document)
{
    // The encoding first: the patterns' quoted text depends on it.
    if (const toml::node* encoding = document.get("encoding"))
        ReadEncoding(*encoding);
    // The state next: rules read it.
    if (const toml::node* state = document.get("state"))
        ReadState(*state);
    for (const auto& [key, node] : document) {
        if (key == "idle") {
            const std::optional<std::chrono::milliseconds> idle = ReadDuration(node, "idle");
            if (idle && idle->count() == 0)
                Error(node.source().begin, QStringLiteral("idle must be longer than 0ms"));
            else if (idle)
                set_.idle = *idle;
        } else if (key == "rule") {
            ReadRules(node);
        } else if (key != "encoding" && key != "state") {
            Error(key.source().begin,
                  QStringLiteral("unknown key \"%1\"").arg(ToQString(key.str())));
        }
    }
}

void RulesReader::ReadEncoding(const toml::node& node)
{
    const std::string* text = StringOf(node, "encoding");
    if (!text)
        return;
    const QString name = ToQString(*text).toLower();
    if (name == QLatin1String("utf-8"))
        set_.encoding = TextEncoding::Utf8;
    else if (name == QLatin1String("windows-31j"))
        set_.encoding = TextEncoding::Windows31J;
    else
        Error(node.source().begin, QStringLiteral("encoding is \"utf-8\" or \"windows-31j\""));
}

void RulesReader::ReadState(const toml::node& node)
{
    const toml::table* table = node.as_table();
    if (!table) {
        Error(node.source().begin, QStringLiteral("state is a table: [state]"));
        return;
    }
    for (const auto& [key, value] : *table)
        ReadStateValue(key, value);
}

bool RulesReader::ReadStateValue(const toml::key& key, const toml::node& node)
{
    StateDeclaration declaration;
    declaration.name = ToQString(key.str());
    if (!IsName(declaration.name))
        return Error(key.source().begin, QStringLiteral("a state name is a letter or _, then "
                                                        "letters, digits or _"));
    const auto number = [&](const toml::node& element, quint64& out) {
        const std::optional<int64_t> value = element.value_exact<int64_t>();
        if (value && *value >= 0)
            out = quint64(*value);
        return (value && *value >= 0) ||
               Error(element.source().begin, QStringLiteral("a state value is a whole number, 0 "
                                                            "or more, or an array of them"));
    };
    if (const toml::array* array = node.as_array()) {
        declaration.table = true;
        for (const toml::node& element : *array) {
            quint64 value = 0;
            if (!number(element, value))
                return false;
            declaration.initial.push_back(value);
        }
    } else if (!number(node, declaration.value)) {
        return false;
    }
    set_.state.push_back(std::move(declaration));
    return true;
}

void RulesReader::ReadRules(const toml::node& node)
{
    const toml::array* rules = node.as_array();
    if (!rules) {
        Error(node.source().begin, QStringLiteral("rules are written [[rule]]"));
        return;
    }
    for (const toml::node& element : *rules) {
        if (const toml::table* table = element.as_table())
            ReadRule(*table);
        else
            Error(element.source().begin, QStringLiteral("rules are written [[rule]]"));
    }
}

void RulesReader::ReadRule(const toml::table& table)
{
    Rule rule;
    bool ok = true;
    // The match first: the replies' captures are checked against it.
    const toml::node* match = table.get("match");
    if (match)
        ok = ReadMatch(*match, rule);
    // A bad match has already been reported; its captures would only add noise.
    checkCaptures_ = ok;
    for (const auto& [key, node] : table)
        ok = ReadRuleKey(key, node, rule) && ok;
    if (!table.contains("name"))
        ok = Error(table.source().begin, QStringLiteral("the rule has no name"));
    if (ok)
        set_.rules.push_back(std::move(rule));
}

bool RulesReader::ReadRuleKey(const toml::key& key, const toml::node& node, Rule& rule)
{
    if (key == "name")
        return ReadName(node, rule);
    if (key == "match")
        return true;
    if (key == "reply")
        return ReadReplies(node, rule);
    if (key == "delay") {
        const std::optional<std::chrono::milliseconds> delay = ReadDuration(node, "delay");
        rule.delay = delay.value_or(rule.delay);
        return delay.has_value();
    }
    if (key == "close") {
        if (const auto close = node.value_exact<bool>()) {
            rule.close = *close;
            return true;
        }
        return Error(node.source().begin, QStringLiteral("close is true or false"));
    }
    if (key == "from") {
        const std::string* text = StringOf(node, "from");
        QString reason;
        if (text && (rule.from = AddressRange::Parse(ToQString(*text), reason)))
            return true;
        return text ? Error(node.source().begin, reason) : false;
    }
    if (key == "proto")
        return ReadProtocol(node, rule);
    if (key == "set")
        return ReadSets(node, rule);
    return Error(key.source().begin,
                 QStringLiteral("unknown key \"%1\" in a rule").arg(ToQString(key.str())));
}

bool RulesReader::ReadName(const toml::node& node, Rule& rule)
{
    const std::string* text = StringOf(node, "name");
    if (!text)
        return false;
    rule.name = ToQString(*text);
    if (!IsRuleName(rule.name))
        return Error(node.source().begin, QStringLiteral("a rule name has no spaces, commas or "
                                                         "control characters"));
    const int line = static_cast<int>(node.source().begin.line);
    if (nameLines_.contains(rule.name))
        return Error(node.source().begin,
                     QStringLiteral("the name \"%1\" is already used on line %2")
                         .arg(rule.name)
                         .arg(nameLines_.value(rule.name)));
    nameLines_.insert(rule.name, line);
    return true;
}

bool RulesReader::ReadMatch(const toml::node& node, Rule& rule)
{
    const std::string* text = StringOf(node, "match");
    if (!text)
        return false;
    SyntaxError error;
    rule.matchText = ToQString(*text);
    rule.match = Pattern::Parse(rule.matchText, set_.encoding, error,
                                [this](const QString& name) { return set_.ReadsState(name); });
    return rule.match || Error(PositionIn(node, error.offset), error.reason);
}

bool RulesReader::ReadReplies(const toml::node& node, Rule& rule)
{
    const toml::array* replies = node.as_array();
    if (!replies)
        return ReadReply(node, rule);
    if (replies->empty())
        return Error(node.source().begin, QStringLiteral("reply needs at least one template; "
                                                         "leave it out to swallow requests"));
    bool ok = true;
    for (const toml::node& element : *replies)
        ok = ReadReply(element, rule) && ok;
    return ok;
}

bool RulesReader::ReadReply(const toml::node& node, Rule& rule)
{
    const std::string* text = StringOf(node, "reply");
    if (!text)
        return false;
    SyntaxError error;
    std::optional<ReplyTemplate> reply =
        ReplyTemplate::Parse(ToQString(*text), set_.encoding, error);
    if (!reply)
        return Error(PositionIn(node, error.offset), error.reason);
    const std::optional<SyntaxError> undefined =
        reply->FindUndefinedCapture(rule.match ? &*rule.match : nullptr,
                                    [this](const QString& name) { return set_.ReadsState(name); });
    if (undefined && checkCaptures_)
        return Error(PositionIn(node, undefined->offset), undefined->reason);
    rule.replies.push_back(std::move(*reply));
    return true;
}

bool RulesReader::ReadSets(const toml::node& node, Rule& rule)
{
    const toml::array* sets = node.as_array();
    if (!sets)
        return ReadSet(node, rule);
    bool ok = true;
    for (const toml::node& element : *sets)
        ok = ReadSet(element, rule) && ok;
    return ok;
}

bool RulesReader::ReadSet(const toml::node& node, Rule& rule)
{
    const std::string* text = StringOf(node, "set");
    if (!text)
        return false;
    SyntaxError error;
    std::optional<Assignment> assignment = Assignment::Parse(ToQString(*text), error);
    if (!assignment)
        return Error(PositionIn(node, error.offset), error.reason);
    const QString target = QStringLiteral("state.") + assignment->target;
    if (!set_.DeclaresState(target))
        return Error(PositionIn(node, assignment->targetOffset),
                     QStringLiteral("\"%1\" is not in the [state] table").arg(assignment->target));
    if (set_.DeclaresTable(target) != assignment->index.has_value())
        return Error(
            PositionIn(node, assignment->targetOffset),
            assignment->index
                ? QStringLiteral("\"%1\" is one value, not a table").arg(assignment->target)
                : QStringLiteral("\"%1\" is a table: write %1[INDEX]").arg(assignment->target));
    const auto known = [&](const QString& name) {
        return name == QLatin1String("counter") || set_.ReadsState(name) ||
               (rule.match && checkCaptures_ && rule.match->HasCapture(name)) || !checkCaptures_;
    };
    if (const std::optional<SyntaxError> unknown = assignment->FindUnknownName(known))
        return Error(PositionIn(node, unknown->offset), unknown->reason);
    rule.sets.push_back(std::move(*assignment));
    return true;
}

bool RulesReader::ReadProtocol(const toml::node& node, Rule& rule)
{
    const std::string* text = StringOf(node, "proto");
    if (!text)
        return false;
    rule.tcp = *text == "tcp";
    rule.udp = *text == "udp";
    return rule.tcp || rule.udp ||
           Error(node.source().begin, QStringLiteral("proto is \"tcp\" or \"udp\""));
}

} // namespace

bool Rule::Accepts(Protocol protocol, const QHostAddress& peer) const
{
    if (!(protocol == Protocol::Tcp ? tcp : udp))
        return false;
    return !from || from->Contains(peer);
}

bool RuleSet::DeclaresState(const QString& name) const
{
    return std::any_of(state.begin(), state.end(), [&](const StateDeclaration& declaration) {
        return name == QStringLiteral("state.") + declaration.name;
    });
}

bool RuleSet::ReadsState(const QString& name) const
{
    return name.endsWith(QLatin1String("[]")) ? DeclaresTable(name.chopped(2))
                                              : DeclaresState(name) && !DeclaresTable(name);
}

bool RuleSet::DeclaresTable(const QString& name) const
{
    return std::any_of(state.begin(), state.end(), [&](const StateDeclaration& declaration) {
        return declaration.table && name == QStringLiteral("state.") + declaration.name;
    });
}

RulesLoad LoadRulesFile(const QString& path)
{
    RegularFileRead read = ReadRegularFile(path, kMaxFileSize);
    RulesLoad load;
    switch (read.outcome) {
    case RegularFileRead::Outcome::Read:
        return ParseRulesText(read.bytes, path);
    case RegularFileRead::Outcome::NotRegular:
        load.errors << QStringLiteral("%1:1:1: Not a regular file").arg(path);
        break;
    case RegularFileRead::Outcome::TooLarge:
        load.errors << QStringLiteral("%1:1:1: the file is larger than 16 MiB").arg(path);
        break;
    case RegularFileRead::Outcome::Failed:
        load.errors << QStringLiteral("%1:1:1: cannot read the file: %2").arg(path, read.reason);
        break;
    }
    return load;
}

RulesLoad ParseRulesText(const QByteArray& text, const QString& fileName)
{
    return RulesReader(text, fileName).Read();
}

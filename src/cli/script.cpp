#include "cli/script.h"

#include "rules/regularfile.h"
#include "rules/tomlreader.h"

#include <algorithm>
#include <functional>

namespace {

// A script is written by hand or by a generator; past this it is a mistake.
constexpr qint64 kMaxScriptBytes = 64 << 20;

class ScriptReader : TomlReader {
public:
    ScriptReader(const QByteArray& text, const QString& path, const QSet<QString>& givenNames)
        : TomlReader(text, path), givenNames_(givenNames)
    {
        script_.path = path;
    }

    ScriptLoad Read()
    {
        if (const std::optional<toml::table> document = Parse())
            ReadTopLevel(*document);
        ScriptLoad load;
        load.errors = Errors();
        if (load.errors.isEmpty())
            load.script = std::move(script_);
        return load;
    }

private:
    using Known = std::function<bool(const QString&)>;

    void ReadTopLevel(const toml::table& document);
    void ReadTests(const toml::node& node);
    void ReadTest(const toml::table& table);
    bool ReadShortForm(const toml::table& table, ScriptTest& test);
    bool ReadSteps(const toml::node& node, ScriptTest& test);
    bool ReadStep(const toml::table& table, ScriptTest& test);
    bool ReadSend(const toml::node& node, ScriptTest& test);
    bool ReadExpect(const toml::node& node, const toml::node* timeout, ScriptTest& test);
    bool NeedsTarget(const toml::node& node, const ScriptTest& test);
    std::optional<Target> ReadTarget(const toml::node& node);
    bool UnknownKeys(const toml::table& table, std::initializer_list<std::string_view> known,
                     const char* where);

    QSet<QString> givenNames_;
    Script script_;
    QSet<QString> testNames_;
    bool toldNoTarget_ = false; // in this test
};

void ScriptReader::ReadTopLevel(const toml::table& document)
{
    if (!UnknownKeys(document, {"target", "timeout", "encoding", "test"}, ""))
        return;
    if (const toml::node* encoding = document.get("encoding")) {
        const std::string* name = StringOf(*encoding, "encoding");
        if (name && (*name == "windows-31j" || *name == "utf-8"))
            script_.encoding = *name == "utf-8" ? TextEncoding::Utf8 : TextEncoding::Windows31J;
        else if (name)
            Error(encoding->source().begin,
                  QStringLiteral("encoding is \"utf-8\" or \"windows-31j\""));
    }
    if (const toml::node* timeout = document.get("timeout"))
        script_.timeout = ReadDuration(*timeout, "timeout").value_or(script_.timeout);
    if (const toml::node* target = document.get("target"))
        script_.target = ReadTarget(*target);
    if (const toml::node* tests = document.get("test"))
        ReadTests(*tests);
    else
        Error({1, 1}, QStringLiteral("the script has no [[test]]"));
}

void ScriptReader::ReadTests(const toml::node& node)
{
    const toml::array* tests = node.as_array();
    if (!tests) {
        Error(node.source().begin, QStringLiteral("tests are written [[test]]"));
        return;
    }
    for (const toml::node& element : *tests) {
        if (const toml::table* table = element.as_table())
            ReadTest(*table);
        else
            Error(element.source().begin, QStringLiteral("tests are written [[test]]"));
    }
}

void ScriptReader::ReadTest(const toml::table& table)
{
    if (!UnknownKeys(table, {"name", "send", "expect", "timeout", "steps"}, " in a test"))
        return;
    ScriptTest test;
    toldNoTarget_ = false;
    const toml::node* name = table.get("name");
    const std::string* text = name ? StringOf(*name, "name") : nullptr;
    if (!name)
        Error(table.source().begin, QStringLiteral("the test has no name"));
    if (!text)
        return;
    test.name = ToQString(*text);
    if (testNames_.contains(test.name)) {
        Error(name->source().begin, QStringLiteral("another test is named \"%1\"").arg(test.name));
        return;
    }
    testNames_.insert(test.name);
    const bool read =
        table.contains("steps") ? ReadSteps(*table.get("steps"), test) : ReadShortForm(table, test);
    if (read && table.contains("steps") &&
        (table.contains("send") || table.contains("expect") || table.contains("timeout")))
        Error(table.source().begin,
              QStringLiteral("a test has either steps, or send and expect (and timeout)"));
    else if (read)
        script_.tests.push_back(std::move(test));
}

bool ScriptReader::ReadShortForm(const toml::table& table, ScriptTest& test)
{
    const toml::node* send = table.get("send");
    const toml::node* expect = table.get("expect");
    if (!send || !expect)
        return Error(table.source().begin, QStringLiteral("a test has send and expect, or steps"));
    const bool sent = ReadSend(*send, test);
    return ReadExpect(*expect, table.get("timeout"), test) && sent;
}

bool ScriptReader::ReadSteps(const toml::node& node, ScriptTest& test)
{
    const toml::array* steps = node.as_array();
    if (!steps || steps->empty())
        return Error(node.source().begin,
                     QStringLiteral("steps is a list of tables, such as [{ send = '\"PING\"' }]"));
    bool ok = true;
    for (const toml::node& element : *steps) {
        const toml::table* step = element.as_table();
        ok = (step ? ReadStep(*step, test)
                   : Error(element.source().begin, QStringLiteral("a step is a table"))) &&
             ok;
    }
    return ok;
}

bool ScriptReader::ReadStep(const toml::table& table, ScriptTest& test)
{
    if (!UnknownKeys(table, {"send", "expect", "timeout", "sleep", "connect", "close"},
                     " in a step"))
        return false;
    const size_t actions = table.size() - (table.contains("timeout") ? 1 : 0);
    if (actions != 1 || (table.contains("timeout") && !table.contains("expect")))
        return Error(table.source().begin,
                     QStringLiteral("a step holds one of send, expect (with its own timeout), "
                                    "sleep, connect or close"));
    if (const toml::node* send = table.get("send"))
        return ReadSend(*send, test);
    if (const toml::node* expect = table.get("expect"))
        return ReadExpect(*expect, table.get("timeout"), test);
    Step step;
    step.line = int(table.source().begin.line);
    if (const toml::node* sleep = table.get("sleep")) {
        step.kind = Step::Kind::Sleep;
        const auto duration = ReadDuration(*sleep, "sleep");
        step.duration = duration.value_or(step.duration);
        test.steps.push_back(std::move(step));
        return duration.has_value();
    }
    if (const toml::node* connect = table.get("connect")) {
        step.kind = Step::Kind::Connect;
        const std::optional<Target> target = ReadTarget(*connect);
        step.target = target.value_or(Target());
        test.steps.push_back(std::move(step));
        return target.has_value();
    }
    const toml::node& close = *table.get("close");
    if (close.value_exact<bool>() != std::optional<bool>(true))
        return Error(close.source().begin, QStringLiteral("close is written close = true"));
    step.kind = Step::Kind::Close;
    test.steps.push_back(std::move(step));
    return true;
}

bool ScriptReader::ReadSend(const toml::node& node, ScriptTest& test)
{
    const std::string* text = StringOf(node, "send");
    if (!text || !NeedsTarget(node, test))
        return false;
    SyntaxError error;
    std::optional<ReplyTemplate> payload =
        ReplyTemplate::Parse(ToQString(*text), script_.encoding, error);
    if (!payload)
        return Error(PositionIn(node, error.offset), error.reason);
    const Known known = [&](const QString& name) {
        if (givenNames_.contains(name))
            return true;
        for (const Step& step : test.steps) {
            if (step.expectation && step.expectation->Captures(name))
                return true;
        }
        return false;
    };
    if (const std::optional<SyntaxError> undefined = payload->FindUndefinedCapture(known))
        return Error(PositionIn(node, undefined->offset), undefined->reason);
    Step step;
    step.kind = Step::Kind::Send;
    step.payload = std::move(payload);
    step.line = int(node.source().begin.line);
    test.steps.push_back(std::move(step));
    return true;
}

bool ScriptReader::ReadExpect(const toml::node& node, const toml::node* timeout, ScriptTest& test)
{
    const std::string* text = StringOf(node, "expect");
    if (!text || !NeedsTarget(node, test))
        return false;
    Step step;
    step.kind = Step::Kind::Expect;
    step.line = int(node.source().begin.line);
    step.duration = script_.timeout;
    if (timeout) {
        const std::optional<std::chrono::milliseconds> duration = ReadDuration(*timeout, "timeout");
        if (!duration)
            return false;
        step.duration = *duration;
    }
    // A name given or captured before is matched as it is: its bytes, no others.
    const auto known = [&](const QString& name) {
        if (name == QLatin1String("counter") || givenNames_.contains(name))
            return true;
        return std::any_of(test.steps.begin(), test.steps.end(), [&](const Step& earlier) {
            return earlier.expectation && earlier.expectation->Captures(name);
        });
    };
    SyntaxError error;
    step.expectation = Expectation::Parse(ToQString(*text), script_.encoding, error, known);
    if (!step.expectation)
        return Error(PositionIn(node, error.offset), error.reason);
    test.steps.push_back(std::move(step));
    return true;
}

// A test's first exchange goes to the script's target, or to the one it connected to.
bool ScriptReader::NeedsTarget(const toml::node& node, const ScriptTest& test)
{
    if (script_.target)
        return true;
    for (const Step& step : test.steps) {
        if (step.kind == Step::Kind::Connect)
            return true;
    }
    if (std::exchange(toldNoTarget_, true))
        return false;
    return Error(node.source().begin, QStringLiteral("nothing says where this goes: set target "
                                                     "at the top, or connect first"));
}

std::optional<Target> ScriptReader::ReadTarget(const toml::node& node)
{
    const std::string* text = StringOf(node, "target");
    if (!text)
        return std::nullopt;
    QString reason;
    const std::optional<Target> target = ParseTarget(ToQString(*text), reason);
    if (!target)
        Error(node.source().begin, reason);
    return target;
}

bool ScriptReader::UnknownKeys(const toml::table& table,
                               std::initializer_list<std::string_view> known, const char* where)
{
    bool ok = true;
    for (const auto& [key, node] : table) {
        if (std::find(known.begin(), known.end(), key.str()) == known.end())
            ok = Error(key.source().begin, QStringLiteral("unknown key \"%1\"%2")
                                               .arg(ToQString(key.str()), QLatin1String(where)));
    }
    return ok;
}

} // namespace

ScriptLoad LoadScript(const QString& path, const QSet<QString>& givenNames)
{
    const RegularFileRead read = ReadRegularFile(path, kMaxScriptBytes);
    ScriptLoad load;
    switch (read.outcome) {
    case RegularFileRead::Outcome::Read:
        return ScriptReader(read.bytes, path, givenNames).Read();
    case RegularFileRead::Outcome::NotRegular:
        load.errors << QStringLiteral("%1:1:1: Not a regular file").arg(path);
        break;
    case RegularFileRead::Outcome::TooLarge:
        load.errors << QStringLiteral("%1:1:1: the script is larger than 64 MiB").arg(path);
        break;
    case RegularFileRead::Outcome::Failed:
        load.errors << QStringLiteral("%1:1:1: cannot read the script: %2").arg(path, read.reason);
        break;
    }
    return load;
}

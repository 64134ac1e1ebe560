// Whatever text reaches the pattern, template and rules file readers, they answer with a
// reason and a place inside the text, never a crash; whatever bytes a parsed pattern or rule set
// meets, a match stays inside those bytes. The input is text, then optionally a NUL byte and the
// bytes to match. An answer an expectation gives up on before its time is one it could never take.
#include "cli/expectation.h"
#include "rules/pattern.h"
#include "rules/replytemplate.h"
#include "rules/responder.h"
#include "rules/rulesfile.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckMatch(const MatchResult& result, const Pattern& pattern, QByteArrayView bytes,
                MatchMode mode)
{
    if (!result.matched())
        return;
    Require(result.length >= (mode == MatchMode::Prefix ? 1 : 0) && result.length <= bytes.size());
    Require(mode == MatchMode::Prefix || result.length == bytes.size());
    Require(result.captures.groups.size() == pattern.GroupCount());
    for (const QByteArray& captured : result.captures.named)
        Require(captured.size() <= result.length);
}

void CheckPattern(const QString& text, TextEncoding encoding, QByteArrayView bytes)
{
    SyntaxError error;
    // As an expectation reads it: "counter" and "v" come from outside.
    const std::optional<Pattern> pattern =
        Pattern::Parse(text, encoding, error, [](const QString& name) {
            return name == QLatin1String("counter") || name == QLatin1String("v");
        });
    if (!pattern) {
        Require(!error.reason.isEmpty() && error.offset >= 0 && error.offset <= text.size());
        return;
    }
    Captures outside;
    outside.named.insert(QStringLiteral("v"), bytes.first(std::min<qsizetype>(bytes.size(), 3))
                                                  .toByteArray());
    const CaptureScope bound(outside, 12, nullptr);
    for (MatchMode mode : {MatchMode::Whole, MatchMode::Prefix})
        CheckMatch(pattern->Match(bytes, mode, &bound), *pattern, bytes, mode);
}

// A start of the answer found to part from the expectation: no answer it begins is taken.
void CheckExpectation(const QString& text, QByteArrayView bytes)
{
    SyntaxError error;
    const std::optional<Expectation> expectation =
        Expectation::Parse(text, TextEncoding::Utf8, error, [](const QString& name) {
            return name == QLatin1String("counter") || name == QLatin1String("v");
        });
    if (!expectation)
        return;
    Captures outside;
    outside.named.insert(QStringLiteral("v"), bytes.first(std::min<qsizetype>(bytes.size(), 3))
                                                  .toByteArray());
    const CaptureScope bound(outside, 12, nullptr);
    for (const bool whole : {false, true}) {
        const bool taken = expectation->Match(bytes, whole, &bound).matched();
        Require(!(taken && expectation->FirstDifference(bytes, whole, &bound).definite));
        const QByteArrayView start = bytes.first(bytes.size() / 2);
        Require(whole || !(taken && expectation->FirstDifference(start, false, &bound).definite));
    }
}

void CheckTemplate(const QString& text, QByteArrayView bytes)
{
    SyntaxError error;
    const std::optional<ReplyTemplate> reply =
        ReplyTemplate::Parse(text, TextEncoding::Utf8, error);
    if (!reply) {
        Require(!error.reason.isEmpty() && error.offset >= 0 && error.offset <= text.size());
        return;
    }
    Captures captures;
    captures.named.insert(QStringLiteral("a"), bytes.toByteArray());
    captures.groups << bytes.toByteArray();
    captures.numbers.insert(QStringLiteral("b"), 300);
    reply->FindUndefinedCapture(nullptr);
    Require(reply->Render(bytes, captures, 7).size() <= (17 << 20) + bytes.size() * 64);
}

void CheckRules(const QByteArray& text, QByteArrayView bytes)
{
    const RulesLoad load = ParseRulesText(text, QStringLiteral("fuzz.toml"));
    Require(load.rules.has_value() == load.errors.isEmpty());
    for (const QString& error : load.errors)
        Require(error.startsWith(QLatin1String("fuzz.toml:")) && !error.startsWith("fuzz.toml:0:"));
    if (!load.rules)
        return;
    Responder responder(*load.rules);
    responder.AnswerDatagram(bytes, QHostAddress(QStringLiteral("192.0.2.1")), 1);
    Conversation conversation = responder.Converse(QHostAddress(QStringLiteral("::1")), 1);
    qsizetype taken = 0;
    bool closed = false; // a rule closed the connection: what follows is neither taken nor kept
    for (QByteArrayView half : {bytes.first(bytes.size() / 2), bytes.sliced(bytes.size() / 2)}) {
        for (const Answer& answer : conversation.Feed(half).answers) {
            taken += answer.request.size();
            closed = closed || answer.close;
        }
    }
    Require(taken + conversation.Unconsumed() <= bytes.size());
    Require(closed || taken + conversation.Unconsumed() == bytes.size());
    conversation.DropUnconsumed();
    Require(responder.SummaryLine().startsWith(QLatin1String("RULES: ")));
    responder.TakeNotices();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    const QByteArray textBytes = split < 0 ? input : input.left(split);
    const QByteArray bytes = split < 0 ? input : input.mid(split + 1);
    const QString text = QString::fromUtf8(textBytes);
    CheckPattern(text, TextEncoding::Utf8, bytes);
    CheckPattern(text, TextEncoding::Windows31J, bytes);
    CheckExpectation(text, bytes);
    CheckTemplate(text, bytes);
    CheckRules(textBytes, bytes);
    return 0;
}

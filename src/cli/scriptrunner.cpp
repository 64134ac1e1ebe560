#include "cli/scriptrunner.h"

#include "cli/exchange.h"
#include "cli/payloads.h"
#include "cli/record.h"
#include "cli/recordedlink.h"
#include "cli/transcript.h"

#include <QElapsedTimer>

#include <thread>

struct ScriptRunner::TestState {
    Target target;
    std::unique_ptr<RecordedLink> link;
    Captures variables;
    QByteArray pending;    // TCP bytes an answer left for the next expectation
    QByteArray lastAnswer; // what {echo} sends
    quint64 sends = 0;     // what {counter} sends
    int stepNumber = 0;
};

namespace {

TestOutcome Outcome(TestOutcome::Result result, const QString& message)
{
    TestOutcome outcome;
    outcome.result = result;
    outcome.message = message;
    return outcome;
}

QString StepName(const Step& step, int number)
{
    return QStringLiteral("step %1 (line %2)").arg(number).arg(step.line);
}

} // namespace

ScriptRunner::ScriptRunner(const Script& script, QHash<QString, QByteArray> given,
                           Transcript& transcript, Record& record)
    : script_(script), given_(std::move(given)), transcript_(transcript), record_(record)
{
}

std::vector<TestOutcome> ScriptRunner::RunAll(bool failFast)
{
    std::vector<TestOutcome> outcomes;
    bool skipping = false;
    for (const ScriptTest& test : script_.tests) {
        TestOutcome outcome =
            skipping ? Outcome(TestOutcome::Result::Skipped,
                               QStringLiteral("not run: an earlier test failed (--fail-fast)"))
                     : RunTest(test);
        outcome.name = test.name;
        skipping = skipping || (failFast && outcome.result != TestOutcome::Result::Passed);
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

TestOutcome ScriptRunner::RunTest(const ScriptTest& test)
{
    QElapsedTimer clock;
    clock.start();
    TestState state;
    state.target = script_.target.value_or(Target());
    state.variables.named = given_;
    std::optional<TestOutcome> failed;
    for (const Step& step : test.steps) {
        ++state.stepNumber;
        if ((failed = RunStep(step, state)))
            break;
    }
    state.link.reset();
    TestOutcome outcome = failed.value_or(TestOutcome());
    outcome.nanoseconds = clock.nsecsElapsed();
    const bool passed = outcome.result == TestOutcome::Result::Passed;
    record_.Line(QStringLiteral("TEST[%1] %2").arg(test.name, passed ? "passed" : "failed: ") +
                 outcome.message);
    return outcome;
}

std::optional<TestOutcome> ScriptRunner::RunStep(const Step& step, TestState& state)
{
    switch (step.kind) {
    case Step::Kind::Send:
        return Send(step, state);
    case Step::Kind::Expect:
        return Expect(step, state);
    case Step::Kind::Sleep:
        transcript_.Flush();
        std::this_thread::sleep_for(step.duration);
        return std::nullopt;
    case Step::Kind::Connect:
        state.link.reset();
        state.target = step.target;
        return Connect(state);
    case Step::Kind::Close:
        state.link.reset();
        state.pending.clear();
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<TestOutcome> ScriptRunner::Connect(TestState& state)
{
    state.pending.clear();
    CliFailure failure;
    state.link = RecordedLink::Open(state.target, QDeadlineTimer(script_.timeout), transcript_,
                                    record_, failure);
    if (state.link)
        return std::nullopt;
    return Outcome(TestOutcome::Result::Unreachable,
                   QStringLiteral("step %1: %2").arg(state.stepNumber).arg(failure.message));
}

std::optional<TestOutcome> ScriptRunner::Send(const Step& step, TestState& state)
{
    // Made before connecting: a payload that will not be sent opens no connection.
    QString cut;
    const QByteArray bytes =
        step.payload->Render(state.lastAnswer, state.variables, ++state.sends, nullptr, &cut);
    if (!cut.isEmpty())
        return Outcome(TestOutcome::Result::Failed,
                       QStringLiteral("%1: not sent: %2")
                           .arg(StepName(step, state.stepNumber), CutPayload(bytes, cut)));
    if (!state.link) {
        if (std::optional<TestOutcome> unreachable = Connect(state))
            return unreachable;
    }
    const Reading sent = state.link->Send(bytes, QDeadlineTimer(script_.timeout));
    if (sent.kind == Reading::Kind::Bytes)
        return std::nullopt;
    const auto result = sent.kind == Reading::Kind::Refused ? TestOutcome::Result::Unreachable
                                                            : TestOutcome::Result::Failed;
    return Outcome(
        result, QStringLiteral("%1: not sent: %2").arg(StepName(step, state.stepNumber), sent.why));
}

std::optional<TestOutcome> ScriptRunner::Expect(const Step& step, TestState& state)
{
    if (!state.link) {
        if (std::optional<TestOutcome> unreachable = Connect(state))
            return unreachable;
    }
    // What was sent and captured so far: {session} must come back as it went.
    const CaptureScope bound(state.variables, state.sends, nullptr);
    const Awaited awaited =
        AwaitAnswer(*state.link, &*step.expectation, state.pending, step.duration, &bound);
    if (awaited.ok()) {
        state.lastAnswer = awaited.answer;
        for (auto it = awaited.captures.named.cbegin(); it != awaited.captures.named.cend(); ++it)
            state.variables.named.insert(it.key(), it.value());
        return std::nullopt;
    }
    TestOutcome outcome =
        Outcome(awaited.kind == Awaited::Kind::Unreachable ? TestOutcome::Result::Unreachable
                                                           : TestOutcome::Result::Failed,
                StepName(step, state.stepNumber) + QStringLiteral(": ") + awaited.why);
    outcome.expected = step.expectation->Text();
    outcome.received = awaited.received;
    if (awaited.kind != Awaited::Kind::TooLong) // where a part of open length ends is unknown
        outcome.offset = awaited.offset;
    return outcome;
}

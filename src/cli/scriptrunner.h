#pragma once

#include "cli/script.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <optional>
#include <vector>

class Record;
class Transcript;

// How one test of a script ended.
struct TestOutcome {
    enum class Result { Passed, Failed, Unreachable, Skipped };
    QString name;
    Result result = Result::Passed;
    QString message; // why it did not pass, naming the step and its line
    // An expectation that was not met: its text, what came instead and where they part.
    QString expected;
    QByteArray received;
    std::optional<qsizetype> offset;
    QByteArray request; // replay: what the exchange that failed sent, if anything
    qint64 nanoseconds = 0;
};

// Runs a script's tests in order, each on a connection of its own, kept from step to step.
class ScriptRunner {
public:
    // `given` are the --var values, known to every test from its start.
    ScriptRunner(const Script& script, QHash<QString, QByteArray> given, Transcript& transcript,
                 Record& record);

    // With `failFast`, the tests after the first that does not pass are skipped.
    std::vector<TestOutcome> RunAll(bool failFast);

private:
    struct TestState;

    TestOutcome RunTest(const ScriptTest& test);
    std::optional<TestOutcome> RunStep(const Step& step, TestState& state);
    std::optional<TestOutcome> Send(const Step& step, TestState& state);
    std::optional<TestOutcome> Expect(const Step& step, TestState& state);
    std::optional<TestOutcome> Connect(TestState& state);

    const Script& script_;
    QHash<QString, QByteArray> given_;
    Transcript& transcript_;
    Record& record_;
};

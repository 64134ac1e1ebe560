// peertest-cli run SCRIPT: the tests of a TOML script, with JUnit and TAP reports.
#include "cli/commands.h"
#include "cli/conventions.h"
#include "cli/payloads.h"
#include "cli/record.h"
#include "cli/reports.h"
#include "cli/scriptrunner.h"
#include "cli/transcript.h"

#include <QFileInfo>

#include <cstdio>

namespace {

void AddRunOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Runs the tests of a TOML script in order, each on a connection of its own.\n"
        "Exit status: 0 all passed, 1 a test failed, 2 wrong command line or script (nothing\n"
        "sent; FILE:LINE:COLUMN named), 3 a target not reached."));
    parser.addPositionalArgument(QStringLiteral("SCRIPT"), QStringLiteral("The test script."));
    parser.addOptions({
        {QStringLiteral("junit"), QStringLiteral("Write a JUnit XML report to FILE."),
         QStringLiteral("FILE")},
        {QStringLiteral("tap"), QStringLiteral("Print TAP 13 instead of the transcript.")},
        {QStringLiteral("var"),
         QStringLiteral("Set NAME for the payloads (hex or quoted text); repeatable."),
         QStringLiteral("NAME=PAYLOAD")},
        {QStringLiteral("fail-fast"), QStringLiteral("Skip the tests after the first failure.")},
        {QStringLiteral("full"), QStringLiteral("Show long payloads whole, not shortened.")},
    });
    AddRecordOptions(parser);
}

int Report(const QCommandLineParser& parser, const Script& script,
           const std::vector<TestOutcome>& outcomes)
{
    const bool full = parser.isSet(QStringLiteral("full"));
    const QByteArray text = parser.isSet(QStringLiteral("tap")) ? TapReport(outcomes, full)
                                                                : PlainReport(outcomes, full);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    QString why;
    if (parser.isSet(QStringLiteral("junit")) &&
        !WriteJUnitReport(parser.value(QStringLiteral("junit")),
                          QFileInfo(script.path).completeBaseName(), outcomes, full, why))
        return CliFailure{kWrongInput, QStringLiteral("--junit: ") + why}.Print();
    return StatusOf(outcomes);
}

} // namespace

int RunCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    AddRunOptions(parser);
    if (const std::optional<int> done = ParseCommandLine(parser, arguments, 1))
        return *done;
    CliFailure failure;
    const auto variables = VariableArguments(parser.values(QStringLiteral("var")), failure);
    if (!variables)
        return failure.Print();
    if (parser.isSet(QStringLiteral("junit")) &&
        !ReportCanBeWritten(parser.value(QStringLiteral("junit")), failure))
        return failure.Print();
    const QString path = parser.positionalArguments().constFirst();
    const ScriptLoad load =
        LoadScript(path, QSet<QString>(variables->keyBegin(), variables->keyEnd()));
    if (!load.script) {
        for (const QString& error : load.errors)
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return kWrongInput;
    }
    Record record(RecordPlaceFrom(parser, false), QStringLiteral("peertest-cli run ") + path);
    Transcript transcript(!parser.isSet(QStringLiteral("tap")),
                          parser.isSet(QStringLiteral("full")));
    ScriptRunner runner(*load.script, *variables, transcript, record);
    const std::vector<TestOutcome> outcomes =
        runner.RunAll(parser.isSet(QStringLiteral("fail-fast")));
    transcript.Flush();
    return Report(parser, *load.script, outcomes);
}

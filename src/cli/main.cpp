// peertest-cli: the checks of peertest from a shell or a CI job, without a window. The
// conventions every subcommand shares are in conventions.h.
#include "cli/commands.h"
#include "cli/conventions.h"
#include "program/systembytes.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

struct Subcommand {
    const char* name;
    int (*run)(const QStringList& arguments);
    const char* summary;
};

// One line per subcommand; a new one (replay) is added here and in commands.h.
constexpr Subcommand kSubcommands[] = {
    {"send", SendCommand, "send a payload to a target and check the answer"},
    {"run", RunCommand, "run the tests of a TOML script (JUnit XML, TAP)"},
    {"serve", ServeCommand, "answer TCP peers and UDP datagrams by a rules file"},
    {"rules", RulesCommand, "check a rules file, or show how it answers a request"},
    {"replay", ReplayCommand, "send a capture's client side to a peer, compare the answers"},
};

void PrintUsage(FILE* to)
{
    std::fputs("Usage: peertest-cli SUBCOMMAND [options] ...\n"
               "Tests network peers that exchange raw bytes, from a shell or a CI job.\n\n"
               "Subcommands:\n",
               to);
    for (const Subcommand& subcommand : kSubcommands)
        std::fprintf(to, "  %-7s %s\n", subcommand.name, subcommand.summary);
    std::fputs("\n'peertest-cli SUBCOMMAND --help' tells more. Exit status: 0 passed, 1 an "
               "expectation failed,\n2 wrong command line, script, rules or payload, 3 a target "
               "not reached.\n",
               to);
}

// A path or a payload in bytes Qt cannot keep is refused rather than used as other bytes.
QString BytesNotKept(int argc, char* argv[])
{
    const QString argument = ArgumentNotUtf8(argc, argv);
    return argument.isEmpty() ? VariableNotUtf8({"PEERTEST_LOG_DIR", "PEERTEST_CAPTURE"})
                              : argument;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The same name as the window, so both log in the same data folder.
    QCoreApplication::setApplicationName(QStringLiteral("peertest"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PEERTEST_VERSION));
    if (const QString why = BytesNotKept(argc, argv); !why.isEmpty()) {
        SayOnStandardError(why);
        return kWrongInput;
    }
    const QStringList arguments = QCoreApplication::arguments();
    const QString first = arguments.value(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        PrintUsage(stdout);
        return kPassed;
    }
    if (first == QLatin1String("--version")) {
        std::printf("peertest-cli %s\n", PEERTEST_VERSION);
        return kPassed;
    }
    for (const Subcommand& subcommand : kSubcommands) {
        if (first == QLatin1String(subcommand.name))
            return subcommand.run(QStringList{QStringLiteral("peertest-cli ") + first} +
                                  arguments.mid(2));
    }
    if (!first.isEmpty())
        SayOnStandardError(QStringLiteral("no subcommand \"%1\"").arg(first));
    PrintUsage(stderr);
    return kWrongInput;
}

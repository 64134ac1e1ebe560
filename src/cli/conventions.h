#pragma once

// What every peertest-cli subcommand shares; a new one (such as replay) follows it too.
//
// Dispatch: each subcommand is `int NameCommand(const QStringList& arguments)` (arguments[0] is
// "peertest-cli NAME", the rest as typed), listed once in main.cpp's table. Its options are
// read with QCommandLineParser through ParseCommandLine below, which gives --help and the
// status-2 message for a bad command line. commands.h declares them.
//
// Exit status (ExitStatus): 0 all passed; 1 an expectation failed or timed out; 2 the command
// line, a script, rules or a payload is wrong, and nothing was sent (the message names
// FILE:LINE:COLUMN, or the option and column); 3 a target could not be reached (name not
// resolved, connection refused, port taken). A run with failures of both kinds ends 3.
// Messages go to standard error as "peertest-cli: " + the text (CliFailure::Print).
//
// Targets: tcp://HOST:PORT or udp://HOST:PORT, HOST a name, an IPv4 address or an IPv6 address
// in brackets, tcp://[::1]:5000 (ParseTarget). Durations: 500ms, 2s, 1.5s (ParseDuration,
// rules/values.h).
// A payload is a reply template and an expectation a pattern, in the rules language.
//
// Transcript (transcript.h): one line per event on standard output,
//   "<ms since start, 3 decimals> <dir> <tcp|udp> <peer> <HEX> <"text">[ <note>]"
// dir "->" sent, "<-" received, "**" anything else (then the event's words follow the peer).
// The text is quoted as in a template ("PING\r\n"), so it can be pasted back into one.
//
// Reports (reports.h): --junit FILE writes JUnit XML, one testcase per test, a failure holding
// the expected and received bytes and their first differing offset; --tap prints TAP 13 alone on
// standard output.
//
// Record (record.h): --log DIR and --capture DIR, or PEERTEST_LOG_DIR and PEERTEST_CAPTURE,
// write the day log ("SND[...]", "RCV[...]" lines) and the day's capture as the window does. A
// client subcommand writes them only when asked; serve always logs.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

enum ExitStatus { kPassed = 0, kFailed = 1, kWrongInput = 2, kUnreachable = 3 };

// Why a subcommand ends early, and with which status.
struct CliFailure {
    ExitStatus status = kWrongInput;
    QString message;

    // Prints the message; returns the status, for `return failure.Print();`.
    int Print() const;
};

// Prints "peertest-cli: " + text on standard error.
void SayOnStandardError(const QString& text);

struct Target {
    enum class Protocol { Tcp, Udp };
    Protocol protocol = Protocol::Tcp;
    QString host; // without the brackets of an IPv6 address
    quint16 port = 0;

    bool Udp() const { return protocol == Protocol::Udp; }
    QString Text() const; // as it is written
};

std::optional<Target> ParseTarget(const QString& text, QString& reason);

// Reads `arguments` with `parser` (the help option is added here). Returns the status to end
// with at once: 0 after printing the help, 2 after printing what is wrong; none to go on, with
// exactly `positionalCount` positional arguments.
std::optional<int> ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments,
                                    int positionalCount);

// A duration option's value, or the failure that names the option.
std::optional<std::chrono::milliseconds> DurationOption(const QCommandLineParser& parser,
                                                        const QString& option,
                                                        std::chrono::milliseconds otherwise,
                                                        CliFailure& failure);

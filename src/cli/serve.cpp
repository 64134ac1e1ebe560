// peertest-cli serve RULES: answers TCP peers and UDP datagrams by a rules file until stopped.
#include "cli/commands.h"
#include "cli/conventions.h"
#include "cli/record.h"
#include "cli/server.h"
#include "cli/transcript.h"
#include "program/stopsignals.h"
#include "standin/rulessource.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <sys/resource.h>

namespace {

void AddServeOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Answers peers by the rules in RULES (read again whenever the file changes), many TCP\n"
        "peers at once and UDP datagrams, until SIGINT or SIGTERM or the end of --for; then\n"
        "prints each rule's hits. Port 0 takes any free port (named in the transcript).\n"
        "Exit status: 0 served and stopped, 2 wrong command line or rules (FILE:LINE:COLUMN\n"
        "named), 3 a port cannot be had."));
    parser.addPositionalArgument(QStringLiteral("RULES"), QStringLiteral("The rules file."));
    parser.addOptions({
        {QStringLiteral("tcp"), QStringLiteral("Listen for TCP peers on PORT."),
         QStringLiteral("PORT")},
        {QStringLiteral("udp"), QStringLiteral("Take UDP datagrams on PORT."),
         QStringLiteral("PORT")},
        {QStringLiteral("for"), QStringLiteral("Stop after DUR."), QStringLiteral("DUR")},
    });
    AddRecordOptions(parser);
}

std::optional<quint16> PortOption(const QCommandLineParser& parser, const QString& name,
                                  CliFailure& failure)
{
    bool ok = false;
    const int port = parser.value(name).toInt(&ok);
    if (ok && port >= 0 && port <= 65535)
        return quint16(port);
    failure = {kWrongInput, QStringLiteral("--%1 takes a port from 0 to 65535").arg(name)};
    return std::nullopt;
}

// A thousand peers at once need more descriptors than a shell usually grants.
void AllowManyPeers()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool OpenPorts(const QCommandLineParser& parser, RulesServer& server, CliFailure& failure)
{
    QString why;
    for (const QString& name : {QStringLiteral("tcp"), QStringLiteral("udp")}) {
        if (!parser.isSet(name))
            continue;
        const std::optional<quint16> port = PortOption(parser, name, failure);
        if (!port)
            return false;
        const bool open = name == QLatin1String("tcp") ? server.ListenTcp(*port, why)
                                                       : server.BindUdp(*port, why);
        if (!open) {
            failure = {kUnreachable, why};
            return false;
        }
    }
    return true;
}

int Serve(const QCommandLineParser& parser, std::optional<std::chrono::milliseconds> servingTime)
{
    const QString path = parser.positionalArguments().constFirst();
    Transcript transcript;
    std::unique_ptr<Record> record; // started once the rules are good: a wrong file logs nothing
    RulesSource rules(path, [&](const QString& line) {
        record->Line(line);
        transcript.Event(false, QStringLiteral("-"), line);
        if (line.startsWith(QStringLiteral("Rules Err:")))
            SayOnStandardError(line);
    });
    const QStringList errors = rules.Start();
    if (!errors.isEmpty()) {
        for (const QString& error : errors)
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return kWrongInput;
    }
    const RecordPlace place = RecordPlaceFrom(parser, true);
    SayOnStandardError(QStringLiteral("log folder: ") + place.logFolder);
    record = std::make_unique<Record>(place, QStringLiteral("peertest-cli serve ") + path);
    RulesServer served(rules.TheResponder(), *record, transcript);
    CliFailure failure;
    if (!OpenPorts(parser, served, failure))
        return failure.Print();
    transcript.Flush();
    const auto stop = [&served] {
        served.Finish();
        QCoreApplication::exit(kPassed);
    };
    OnStopSignal(&served, stop);
    if (servingTime)
        QTimer::singleShot(*servingTime, Qt::PreciseTimer, &served, stop);
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &served, [&transcript] { transcript.Flush(); });
    return QCoreApplication::exec();
}

} // namespace

int ServeCommand(const QStringList& arguments)
{
    HoldStopSignals();
    AllowManyPeers();
    QCommandLineParser parser;
    AddServeOptions(parser);
    if (const std::optional<int> done = ParseCommandLine(parser, arguments, 1))
        return *done;
    if (!parser.isSet(QStringLiteral("tcp")) && !parser.isSet(QStringLiteral("udp")))
        return CliFailure{kWrongInput, QStringLiteral("serve needs --tcp PORT, --udp PORT or both")}
            .Print();
    if (!parser.isSet(QStringLiteral("for")))
        return Serve(parser, std::nullopt);
    CliFailure failure;
    const auto servingTime =
        DurationOption(parser, QStringLiteral("for"), std::chrono::milliseconds(0), failure);
    return servingTime ? Serve(parser, servingTime) : failure.Print();
}

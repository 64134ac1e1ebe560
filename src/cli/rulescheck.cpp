// peertest-cli rules RULES: checks a rules file; with --input, shows how it would answer.
#include "cli/closestrule.h"
#include "cli/commands.h"
#include "cli/conventions.h"
#include "cli/payloads.h"
#include "cli/transcript.h"
#include "rules/responder.h"

#include <cstdio>

namespace {

void AddRulesOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Checks a rules file. With --input, prints the rule that answers PAYLOAD and the bytes\n"
        "it would send.\n"
        "Exit status: 0 the file is good (and a rule answers), 1 no rule answers the input,\n"
        "2 wrong command line, rules file or payload (FILE:LINE:COLUMN named)."));
    parser.addPositionalArgument(QStringLiteral("RULES"), QStringLiteral("The rules file."));
    parser.addOptions({
        {QStringLiteral("input"), QStringLiteral("A request, hex or quoted text."),
         QStringLiteral("PAYLOAD")},
        {QStringLiteral("udp"), QStringLiteral("Take the input as a UDP datagram, not TCP bytes.")},
        {QStringLiteral("peer"), QStringLiteral("The address it comes from (default 127.0.0.1)."),
         QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1")},
    });
}

void Print(const QString& text)
{
    std::printf("%s\n", text.toUtf8().constData());
}

void PrintAnswer(const Answer& answer)
{
    Print(QStringLiteral("rule: ") + answer.ruleName);
    Print(QStringLiteral("request: ") +
          QString::fromLatin1(answer.request.toHex().toUpper() + ' ' + QuotedText(answer.request)));
    Print(answer.reply
              ? QStringLiteral("reply: ") + QString::fromLatin1(answer.reply->toHex().toUpper() +
                                                                ' ' + QuotedText(*answer.reply))
              : QStringLiteral("reply: none (the rule takes the request silently)"));
    if (answer.delay.count() > 0)
        Print(QStringLiteral("delay: %1ms").arg(answer.delay.count()));
    if (answer.close)
        Print(QStringLiteral("then: close"));
}

int ShowAnswers(Responder& responder, const QByteArray& input, bool udp, const QHostAddress& peer)
{
    std::vector<Answer> answers;
    qsizetype left = 0;
    if (udp) {
        answers.push_back(responder.AnswerDatagram(input, peer, 0));
    } else {
        Conversation conversation = responder.Converse(peer, 0);
        answers = conversation.Feed(input).answers;
        left = conversation.Unconsumed();
    }
    for (const QString& notice : responder.TakeNotices())
        Print(notice);
    const bool answered = !answers.empty() && answers.front().matched();
    for (const Answer& answer : answers) {
        if (answer.matched())
            PrintAnswer(answer);
    }
    if (!answered) {
        const QString closest = ClosestRule(responder.Rules(), input, udp, peer);
        Print(QStringLiteral("no rule answers it") +
              (closest.isEmpty() ? QString() : QStringLiteral("; ") + closest));
    }
    if (left > 0)
        Print(QStringLiteral("left unmatched: %1 bytes").arg(left));
    return answered ? kPassed : kFailed;
}

} // namespace

int RulesCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    AddRulesOptions(parser);
    if (const std::optional<int> done = ParseCommandLine(parser, arguments, 1))
        return *done;
    const QString path = parser.positionalArguments().constFirst();
    RulesLoad load = LoadRulesFile(path);
    if (!load.rules) {
        for (const QString& error : load.errors)
            std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return kWrongInput;
    }
    CliFailure failure;
    const QHostAddress peer(parser.value(QStringLiteral("peer")));
    if (peer.isNull())
        return CliFailure{kWrongInput, QStringLiteral("--peer takes an IPv4 or IPv6 address")}
            .Print();
    std::optional<QByteArray> input;
    if (parser.isSet(QStringLiteral("input")) &&
        !(input = BytesArgument(parser.value(QStringLiteral("input")), QStringLiteral("--input"),
                                failure)))
        return failure.Print();
    QStringList names;
    for (const Rule& rule : load.rules->rules)
        names << rule.name;
    Print(QStringLiteral("%1: %2 rules: %3").arg(path).arg(names.size()).arg(names.join(u' ')));
    if (!input)
        return kPassed;
    Responder responder(std::move(*load.rules));
    return ShowAnswers(responder, *input, parser.isSet(QStringLiteral("udp")), peer);
}

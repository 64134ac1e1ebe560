// peertest-cli send TARGET PAYLOAD: one exchange (or --repeat N) with a peer.
#include "cli/bytestext.h"
#include "cli/commands.h"
#include "cli/exchange.h"
#include "cli/payloads.h"
#include "cli/record.h"
#include "cli/recordedlink.h"
#include "cli/transcript.h"

#include <cstdio>
#include <thread>

namespace {

struct SendPlan {
    Target target;
    std::optional<ReplyTemplate> payload;
    std::optional<Expectation> expectation;
    std::chrono::milliseconds timeout{2000};
    std::chrono::milliseconds interval{0};
    int repeat = 1;
    bool quiet = false;
    bool full = false;
    RecordPlace record;
};

void AddSendOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Sends PAYLOAD to TARGET, waits for the answer and prints each exchange.\n"
        "Exit status: 0 answered (and matched), 1 no answer or no match, 2 wrong command line\n"
        "or payload (nothing sent), 3 target not reached."));
    parser.addPositionalArgument(QStringLiteral("TARGET"),
                                 QStringLiteral("tcp://HOST:PORT or udp://HOST:PORT"));
    parser.addPositionalArgument(QStringLiteral("PAYLOAD"),
                                 QStringLiteral("Hex digits and quoted text: '\"PING\\r\\n\"'."));
    parser.addOptions({
        {QStringLiteral("expect"), QStringLiteral("The answer must match PATTERN."),
         QStringLiteral("PATTERN")},
        {QStringLiteral("timeout"), QStringLiteral("How long to wait for it (default 2s)."),
         QStringLiteral("DUR")},
        {QStringLiteral("repeat"), QStringLiteral("Exchanges to make (default 1)."),
         QStringLiteral("N")},
        {QStringLiteral("interval"), QStringLiteral("Pause between exchanges (default 0ms)."),
         QStringLiteral("DUR")},
        {QStringLiteral("quiet"), QStringLiteral("Print only each answer, in hex.")},
        {QStringLiteral("full"), QStringLiteral("Show long payloads whole, not shortened.")},
    });
    AddRecordOptions(parser);
}

bool ReadSendPlan(const QCommandLineParser& parser, SendPlan& plan, CliFailure& failure)
{
    const QStringList positional = parser.positionalArguments();
    QString reason;
    const std::optional<Target> target = ParseTarget(positional.at(0), reason);
    if (!target) {
        failure = {kWrongInput, reason};
        return false;
    }
    plan.target = *target;
    bool counted = true;
    plan.repeat = parser.isSet(QStringLiteral("repeat"))
                      ? parser.value(QStringLiteral("repeat")).toInt(&counted)
                      : 1;
    if (!counted || plan.repeat < 1) {
        failure = {kWrongInput, QStringLiteral("--repeat takes a whole number above 0")};
        return false;
    }
    plan.quiet = parser.isSet(QStringLiteral("quiet"));
    plan.full = parser.isSet(QStringLiteral("full"));
    plan.record = RecordPlaceFrom(parser, false);
    const auto timeout = DurationOption(parser, QStringLiteral("timeout"), plan.timeout, failure);
    const auto interval =
        DurationOption(parser, QStringLiteral("interval"), plan.interval, failure);
    if (!timeout || !interval)
        return false;
    plan.timeout = *timeout;
    plan.interval = *interval;
    plan.payload = TemplateArgument(positional.at(1), QStringLiteral("PAYLOAD"), failure);
    if (!plan.payload)
        return false;
    if (parser.isSet(QStringLiteral("expect")))
        plan.expectation = ExpectationArgument(parser.value(QStringLiteral("expect")),
                                               QStringLiteral("--expect"), failure);
    return !parser.isSet(QStringLiteral("expect")) || plan.expectation;
}

CliFailure ExchangeFailure(const Awaited& awaited, const Expectation* expectation, bool full)
{
    // Past the limit, where a part of open length would have ended is unknown.
    const bool offset = expectation && awaited.kind != Awaited::Kind::Closed &&
                        awaited.kind != Awaited::Kind::TooLong;
    QString message = awaited.why;
    if (expectation)
        message += QStringLiteral("\n  expected: ") + expectation->Text();
    if (expectation || !awaited.received.isEmpty())
        message += QStringLiteral("\n  received: ") +
                   (awaited.received.isEmpty()
                        ? QStringLiteral("nothing")
                        : QString::fromLatin1(BytesText(
                              awaited.received, full,
                              offset ? std::optional<qsizetype>(awaited.offset) : std::nullopt)));
    if (offset)
        message += QStringLiteral("\n  first differing offset: %1").arg(awaited.offset);
    return {awaited.kind == Awaited::Kind::Unreachable ? kUnreachable : kFailed, message};
}

int Exchange(const SendPlan& plan, RecordedLink& link, QByteArray& pending, int number)
{
    QString cut;
    const QByteArray bytes = plan.payload->Render({}, {}, quint64(number), nullptr, &cut);
    // Status 2 says nothing was sent: after the first send, this one fails like a send.
    if (!cut.isEmpty())
        return CliFailure{number == 1 ? kWrongInput : kFailed,
                          QStringLiteral("not sent: ") + CutPayload(bytes, cut)}
            .Print();
    const Reading sent = link.Send(bytes, QDeadlineTimer(plan.timeout));
    if (sent.kind != Reading::Kind::Bytes)
        return CliFailure{sent.kind == Reading::Kind::Refused ? kUnreachable : kFailed,
                          QStringLiteral("not sent: ") + sent.why}
            .Print();
    const Expectation* expectation = plan.expectation ? &*plan.expectation : nullptr;
    const Captures none;
    const CaptureScope thisSend(none, quint64(number), nullptr); // {counter} is this send's
    const Awaited awaited = AwaitAnswer(link, expectation, pending, plan.timeout, &thisSend);
    if (!awaited.ok())
        return ExchangeFailure(awaited, expectation, plan.full).Print();
    if (plan.quiet)
        std::printf("%s\n", awaited.answer.toHex().toUpper().constData());
    return kPassed;
}

int RunSend(const SendPlan& plan)
{
    Record record(plan.record, QStringLiteral("peertest-cli send ") + plan.target.Text());
    Transcript transcript(!plan.quiet, plan.full);
    CliFailure failure;
    std::unique_ptr<RecordedLink> link =
        RecordedLink::Open(plan.target, QDeadlineTimer(plan.timeout), transcript, record, failure);
    if (!link)
        return failure.Print();
    QByteArray pending;
    for (int number = 1; number <= plan.repeat; ++number) {
        if (number > 1) {
            transcript.Flush();
            std::this_thread::sleep_for(plan.interval);
        }
        if (const int status = Exchange(plan, *link, pending, number); status != kPassed)
            return status;
    }
    return kPassed;
}

} // namespace

int SendCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    AddSendOptions(parser);
    if (const std::optional<int> done = ParseCommandLine(parser, arguments, 2))
        return *done;
    SendPlan plan;
    CliFailure failure;
    if (!ReadSendPlan(parser, plan, failure))
        return failure.Print();
    return RunSend(plan);
}

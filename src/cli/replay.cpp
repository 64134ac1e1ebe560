// peertest-cli replay CAPTURE --to TARGET: the client side of captured conversations, sent again
// to a peer in lockstep with its answers, which --check compares with the captured ones.
#include "cli/bytestext.h"
#include "cli/commands.h"
#include "cli/conventions.h"
#include "cli/record.h"
#include "cli/recordedlink.h"
#include "cli/reports.h"
#include "cli/transcript.h"
#include "replay/capturereader.h"
#include "replay/player.h"

#include <QFileInfo>

#include <cstdio>

namespace {

const char* const kDescription =
    "Sends the client side of each conversation in CAPTURE (pcap or pcapng) to TARGET: each TCP\n"
    "connection as a connection of its own, UDP datagrams as datagrams, in order. Before each\n"
    "payload it waits for the answer the capture shows, then for the captured pause.\n"
    "The client is the side that sent the SYN; without one (and for UDP), the side not on\n"
    "TARGET's port. Conversations are numbered as tshark's tcp.stream and udp.stream; TARGET's\n"
    "protocol says which are replayed.\n"
    "--ignore takes bytes:START+COUNT (bytes:4+2: the 5th and 6th byte of every answer) or\n"
    "pattern:PATTERN (in answers PATTERN matches whole, as it does the captured one, its named\n"
    "captures are not compared: 'pattern:\"SEQ=\" {seq:4} *'); repeatable.\n"
    "Exit status: 0 replayed (and every answer as captured), 1 an answer differed, was missing,\n"
    "extra or late, 2 wrong command line or capture (nothing sent), 3 target not reached.";

struct ReplayPlan {
    QString capture;
    Target target;
    CaptureRequest request;
    ReplayPace pace;
    QString junit;
    bool full = false;
    RecordPlace record;
};

void AddReplayOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addPositionalArgument(QStringLiteral("CAPTURE"),
                                 QStringLiteral("A pcap or pcapng file."));
    parser.addOptions({
        {QStringLiteral("to"), QStringLiteral("The peer: tcp://HOST:PORT or udp://HOST:PORT."),
         QStringLiteral("TARGET")},
        {QStringLiteral("filter"), QStringLiteral("Only packets this BPF expression takes."),
         QStringLiteral("BPF")},
        {QStringLiteral("stream"), QStringLiteral("Only conversation N (tcp.stream, udp.stream)."),
         QStringLiteral("N")},
        {QStringLiteral("speed"),
         QStringLiteral("Pauses divided by FACTOR (default 1); max: none."),
         QStringLiteral("FACTOR|max")},
        {QStringLiteral("check"), QStringLiteral("Compare every answer with the captured one.")},
        {QStringLiteral("ignore"),
         QStringLiteral("What --check lets differ: bytes:START+COUNT or pattern:PATTERN."),
         QStringLiteral("MASK")},
        {QStringLiteral("timeout"), QStringLiteral("How long an answer may take (default 2s)."),
         QStringLiteral("DUR")},
        {QStringLiteral("junit"),
         QStringLiteral("Write a JUnit XML report to FILE, a testcase a conversation."),
         QStringLiteral("FILE")},
        {QStringLiteral("full"), QStringLiteral("Show long payloads whole, not shortened.")},
    });
    AddRecordOptions(parser);
}

bool ReadTarget(const QCommandLineParser& parser, ReplayPlan& plan, CliFailure& failure)
{
    if (!parser.isSet(QStringLiteral("to"))) {
        failure = {kWrongInput, QStringLiteral("replay needs --to TARGET (see --help)")};
        return false;
    }
    QString reason;
    const std::optional<Target> target = ParseTarget(parser.value(QStringLiteral("to")), reason);
    if (!target)
        failure = {kWrongInput, QStringLiteral("--to: ") + reason};
    else
        plan.target = *target;
    return target.has_value();
}

bool ReadChoice(const QCommandLineParser& parser, ReplayPlan& plan, CliFailure& failure)
{
    ConversationChoice& choice = plan.request.choice;
    choice.tcp = !plan.target.Udp();
    choice.serverPort = plan.target.port;
    plan.request.filter = parser.value(QStringLiteral("filter"));
    if (!parser.isSet(QStringLiteral("stream")))
        return true;
    bool ok = false;
    const int stream = parser.value(QStringLiteral("stream")).toInt(&ok);
    if (!ok || stream < 0) {
        failure = {kWrongInput, QStringLiteral("--stream takes a whole number from 0")};
        return false;
    }
    choice.stream = stream;
    return true;
}

bool ReadSpeed(const QCommandLineParser& parser, ReplayPace& pace, CliFailure& failure)
{
    if (!parser.isSet(QStringLiteral("speed")))
        return true;
    const QString text = parser.value(QStringLiteral("speed"));
    bool ok = false;
    pace.speed = text == QLatin1String("max") ? 0 : text.toDouble(&ok);
    if (text == QLatin1String("max") || (ok && pace.speed > 0 && pace.speed < 1e9))
        return true;
    failure = {kWrongInput, QStringLiteral("--speed takes a factor above 0 (0.5, 2) or max")};
    return false;
}

bool ReadIgnores(const QCommandLineParser& parser, ReplayPace& pace, CliFailure& failure)
{
    for (const QString& mask : parser.values(QStringLiteral("ignore"))) {
        if (const std::optional<SyntaxError> error = pace.mask.Add(mask)) {
            failure = {kWrongInput, QStringLiteral("--ignore %1, column %2: %3")
                                        .arg(mask)
                                        .arg(error->offset + 1)
                                        .arg(error->reason)};
            return false;
        }
    }
    return true;
}

bool ReadJUnit(const QCommandLineParser& parser, ReplayPlan& plan, CliFailure& failure)
{
    plan.junit = parser.value(QStringLiteral("junit"));
    return plan.junit.isEmpty() || ReportCanBeWritten(plan.junit, failure);
}

bool ReadReplayPlan(const QCommandLineParser& parser, ReplayPlan& plan, CliFailure& failure)
{
    plan.capture = parser.positionalArguments().constFirst();
    plan.pace.check = parser.isSet(QStringLiteral("check"));
    plan.full = parser.isSet(QStringLiteral("full"));
    plan.record = RecordPlaceFrom(parser, false);
    const auto timeout =
        DurationOption(parser, QStringLiteral("timeout"), plan.pace.timeout, failure);
    if (timeout)
        plan.pace.timeout = *timeout;
    return timeout && ReadTarget(parser, plan, failure) && ReadChoice(parser, plan, failure) &&
           ReadSpeed(parser, plan.pace, failure) && ReadIgnores(parser, plan.pace, failure) &&
           ReadJUnit(parser, plan, failure);
}

// Every chosen conversation must be whole in the capture, or nothing is sent.
bool CheckContents(const ReplayPlan& plan, const CaptureContents& contents, CliFailure& failure)
{
    const ConversationChoice& choice = plan.request.choice;
    const QString kind = choice.tcp ? QStringLiteral("tcp") : QStringLiteral("udp");
    if (choice.stream && *choice.stream >= contents.streamCount)
        failure = {kWrongInput, QStringLiteral("%1 has no %2.stream %3 (it has %4)")
                                    .arg(plan.capture, kind)
                                    .arg(*choice.stream)
                                    .arg(contents.streamCount)};
    else if (contents.conversations.empty())
        failure = {kWrongInput,
                   QStringLiteral("%1 has no %2 conversation to replay%3")
                       .arg(plan.capture, kind.toUpper(),
                            plan.request.filter.isEmpty() ? QString()
                                                          : QStringLiteral(" through --filter"))};
    for (const Conversation& conversation : contents.conversations) {
        if (!conversation.trouble.isEmpty() && failure.message.isEmpty())
            failure = {kWrongInput,
                       QStringLiteral("%1: %2: %3; leave it out with --stream or "
                                      "--filter")
                           .arg(plan.capture, conversation.Name(), conversation.trouble)};
    }
    if (contents.damaged > 0)
        SayOnStandardError(QStringLiteral("%1: %2 packets with damaged headers left out")
                               .arg(plan.capture)
                               .arg(contents.damaged));
    return failure.message.isEmpty();
}

// The player's link: a recorded link, so the transcript, the day log and the capture show the
// replay as they show any other subcommand's traffic.
class RecordedReplayLink : public ReplayLink {
public:
    RecordedReplayLink(std::unique_ptr<RecordedLink> link, Transcript& transcript,
                       std::chrono::milliseconds timeout)
        : link_(std::move(link)), transcript_(transcript), timeout_(timeout)
    {
    }
    ~RecordedReplayLink() override
    {
        link_.reset();
        transcript_.Flush();
    }

    Got Send(const QByteArray& bytes) override
    {
        return Converted(link_->Send(bytes, QDeadlineTimer(timeout_)));
    }
    Got Receive(QDeadlineTimer deadline) override { return Converted(link_->Receive(deadline)); }
    void Note(const QString& words) override { NoteFor(transcript_, link_->TheTarget(), words); }
    void Idle() override { transcript_.Flush(); }

    static void NoteFor(Transcript& transcript, const Target& target, const QString& words)
    {
        transcript.Event(target.Udp(), target.Text().section(QStringLiteral("://"), 1), words);
    }

private:
    static Got Converted(const Reading& reading)
    {
        return {Got::Kind(int(reading.kind)), reading.bytes, reading.why};
    }

    std::unique_ptr<RecordedLink> link_;
    Transcript& transcript_;
    std::chrono::milliseconds timeout_;
};

// Reading's kinds are the player's, in the same order.
static_assert(int(Reading::Kind::Bytes) == int(ReplayLink::Got::Kind::Bytes) &&
              int(Reading::Kind::TimedOut) == int(ReplayLink::Got::Kind::TimedOut) &&
              int(Reading::Kind::Failed) == int(ReplayLink::Got::Kind::Failed) &&
              int(Reading::Kind::Refused) == int(ReplayLink::Got::Kind::Refused) &&
              int(Reading::Kind::Closed) == int(ReplayLink::Got::Kind::Closed));

TestOutcome TestOutcomeOf(const Conversation& conversation, const PlayOutcome& played, bool full)
{
    TestOutcome outcome;
    outcome.name = conversation.Name();
    outcome.result = TestOutcome::Result(int(played.result));
    outcome.message = played.message;
    outcome.nanoseconds = played.nanoseconds;
    outcome.request = played.request;
    if (played.offset) {
        outcome.expected =
            played.expected.isEmpty()
                ? QStringLiteral("nothing")
                : QString::fromLatin1(BytesText(played.expected, full, played.offset));
        outcome.received = played.received;
        outcome.offset = played.offset;
    }
    return outcome;
}

// So are a test's results.
static_assert(int(TestOutcome::Result::Failed) == int(PlayOutcome::Result::Failed) &&
              int(TestOutcome::Result::Skipped) == int(PlayOutcome::Result::Skipped) &&
              int(TestOutcome::Result::Unreachable) == int(PlayOutcome::Result::Unreachable));

int Report(const ReplayPlan& plan, const std::vector<Conversation>& conversations,
           const std::vector<PlayOutcome>& played)
{
    std::vector<TestOutcome> outcomes;
    for (size_t i = 0; i < played.size(); ++i)
        outcomes.push_back(TestOutcomeOf(conversations[i], played[i], plan.full));
    const QByteArray text = PlainReport(outcomes, plan.full);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fflush(stdout);
    QString why;
    if (!plan.junit.isEmpty() &&
        !WriteJUnitReport(plan.junit, QFileInfo(plan.capture).completeBaseName(), outcomes,
                          plan.full, why))
        return CliFailure{kWrongInput, QStringLiteral("--junit: ") + why}.Print();
    return StatusOf(outcomes);
}

int RunReplay(const ReplayPlan& plan, const std::vector<Conversation>& conversations)
{
    Record record(plan.record, QStringLiteral("peertest-cli replay ") + plan.capture);
    Transcript transcript(true, plan.full);
    const LinkOpener open = [&](const Conversation& conversation,
                                QString& why) -> std::unique_ptr<ReplayLink> {
        RecordedReplayLink::NoteFor(transcript, plan.target, conversation.Name());
        CliFailure failure;
        std::unique_ptr<RecordedLink> link = RecordedLink::Open(
            plan.target, QDeadlineTimer(plan.pace.timeout), transcript, record, failure);
        if (!link) {
            why = failure.message;
            return nullptr;
        }
        return std::make_unique<RecordedReplayLink>(std::move(link), transcript, plan.pace.timeout);
    };
    const std::vector<PlayOutcome> played = PlayConversations(conversations, plan.pace, open);
    transcript.Flush();
    return Report(plan, conversations, played);
}

} // namespace

int ReplayCommand(const QStringList& arguments)
{
    QCommandLineParser parser;
    AddReplayOptions(parser);
    if (const std::optional<int> done = ParseCommandLine(parser, arguments, 1))
        return *done;
    ReplayPlan plan;
    CliFailure failure;
    if (!ReadReplayPlan(parser, plan, failure))
        return failure.Print();
    CaptureContents contents;
    QString why;
    if (!ReadCaptureFile(plan.capture, plan.request, contents, why))
        return CliFailure{kWrongInput, plan.capture + QStringLiteral(": ") + why}.Print();
    if (!CheckContents(plan, contents, failure))
        return failure.Print();
    return RunReplay(plan, contents.conversations);
}

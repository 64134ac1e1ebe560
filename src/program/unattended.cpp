#include "program/unattended.h"

#include "capture/capture.h"
#include "convert/controls.h"
#include "log/activityrecord.h"
#include "log/log1month.h"
#include "net/guard.h"
#include "net/receiver.h"
#include "program/commandline.h"
#include "program/endprogram.h"
#include "program/receiverrules.h"

#include <QTimer>
#include <cstdio>

namespace {

// An activity line's date, time and the space after each.
constexpr qsizetype kStampLength = 20;

bool IsErrorLine(const QString& line)
{
    const QStringView message = QStringView(line).mid(kStampLength);
    // Nearly every line is an arrival, told apart from every prefix by its first character.
    if (message.isEmpty() || (message.front() != u'E' && message.front() != u'L' &&
                              message.front() != u'C' && message.front() != u'R'))
        return false;
    // Compared whole only with a prefix it shares two characters with: every arrival passes
    // here, and an arrival's "RCV[" shares its first with "Rules Err:".
    static constexpr QStringView kErrorPrefixes[] = {u"Err:", u"Error Event Occured.", u"Log Err:",
                                                     u"Capture Err:", u"Rules Err:"};
    for (QStringView prefix : kErrorPrefixes) {
        if (message.size() >= prefix.size() && message[0] == prefix[0] && message[1] == prefix[1] &&
            message.startsWith(prefix))
            return true;
    }
    return false;
}

void EchoOnStandardError(const QString& line)
{
    const QByteArray text = EscapeControls(line).toLocal8Bit();
    std::fprintf(stderr, "peertest: %s\n", text.constData());
    std::fflush(stderr);
}

void SayWhyTheRunEnds(const char* why)
{
    std::fprintf(stderr, "peertest: %s; the run ends\n", why);
    std::fflush(stderr);
}

bool IsHeadlessPlatform(QStringView name)
{
    const QStringView plugin = name.left(name.indexOf(u':')); // options follow a colon
    return plugin == u"offscreen" || plugin == u"minimal";
}

} // namespace

bool NoOneSeesTheWindow(const QStringList& arguments)
{
    const qsizetype platform = arguments.indexOf(QStringLiteral("-platform"));
    if (platform >= 0 && platform + 1 < arguments.size())
        return IsHeadlessPlatform(arguments.at(platform + 1));
    return IsHeadlessPlatform(qEnvironmentVariable("QT_QPA_PLATFORM"));
}

QStringList WithoutPlatformArgument(QStringList arguments)
{
    const qsizetype platform = arguments.indexOf(QStringLiteral("-platform"));
    if (platform >= 0)
        arguments.remove(platform, qMin<qsizetype>(2, arguments.size() - platform));
    return arguments;
}

UnattendedReceiver::UnattendedReceiver(DayLog& log, const QString& commandLine,
                                       const QString& receiverPort)
    : log_(log), record_(std::make_unique<ActivityRecord>(log)),
      receiver_(std::make_unique<Receiver>(static_cast<ReceiverView&>(*this))),
      udpMode_(UdpModeOf(commandLine)),
      portText_(NamesReceiverPort(commandLine) ? commandLine : receiverPort)
{
    receiver_->SetUdpMode(udpMode_);
    // After the handler that failed has finished: an error event closes the socket only after
    // its line is shown.
    connect(receiver_.get(), &Receiver::Failed, this,
            [this] { QTimer::singleShot(0, this, [this] { EndIfClosedForGood(); }); });
}

UnattendedReceiver::~UnattendedReceiver() = default;

// A logger that cannot log, or has nothing to log, is not left running as if it could: only a
// disk that fills up later is waited out (its losses are counted and told).
void UnattendedReceiver::Start()
{
    const LogWriteResult started = log_.LogStart(ModeTitle(udpMode_), QString());
    if (!started.written) {
        if (started.failure.isEmpty())
            SayWhyTheRunEnds("the log cannot be named (no log folder or no date)");
        else
            EchoOnStandardError(record_->LogFailureLine(started.failure));
        End(1);
        return;
    }
    capture_ = Capture::FromEnvironment(log_.Stamp().TheClock());
    if (capture_)
        capture_->Attach(receiver_->Winsock2, [this](const QString& line) { AddList2Msg(line); });
    // A stand-in that cannot answer must not pass for one that can.
    rules_ = ReceiverRules::FromEnvironment(
        *receiver_, [this](const QString& line) { AddList2Msg(line); }, [] { return true; });
    if (rules_ && !rules_->Start()) {
        rules_.reset();
        End(1);
        return;
    }
    if (!NamesReceiverPort(portText_)) {
        SayWhyTheRunEnds("no receiver port: give a port number above 0 on the command line or "
                         "in PEERTEST_RECEIVER_PORT");
        End(1);
        return;
    }
    Guarded([this] { receiver_->cmdRcvOpen_Click(); },
            [this](const QString& line) {
                AddList2Msg(line);
                EndIfClosedForGood();
            });
}

void UnattendedReceiver::End(int status)
{
    receiver_->Winsock2.Drain();
    receiver_->CloseIfOpen();
    if (rules_)
        AddList2Msg(rules_->SummaryLine());
    log_.LogEnd();
    SetProgramExitStatus(status);
    EndProgram();
}

void UnattendedReceiver::AddList2Msg(const QString& text)
{
    record_->Record(text, [](const QString& line) {
        if (IsErrorLine(line))
            EchoOnStandardError(line);
    });
}

void UnattendedReceiver::EndIfClosedForGood()
{
    if (receiver_->ClosedForGood())
        End(1);
}

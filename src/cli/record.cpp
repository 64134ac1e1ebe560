#include "cli/record.h"

#include "capture/capturefile.h"
#include "capture/capturetap.h"
#include "cli/conventions.h"
#include "convert/controls.h"
#include "log/activityrecord.h"
#include "log/clock.h"
#include "log/log1month.h"
#include "log/monthfile.h"
#include "program/logfolderchoice.h"

#include <QDir>

namespace {

constexpr qsizetype kStampLength = 20; // "MM-dd-yyyy HH:mm:ss "

void EchoIfError(const QString& stampedLine)
{
    const QStringView message = QStringView(stampedLine).mid(kStampLength);
    if (message.startsWith(u"Log Err:") || message.startsWith(u"Capture Err:"))
        SayOnStandardError(EscapeControls(message.toString()));
}

QString Absolute(const QString& folder)
{
    return folder.isEmpty() ? folder : QDir::cleanPath(QDir::current().absoluteFilePath(folder));
}

} // namespace

void AddRecordOptions(QCommandLineParser& parser)
{
    parser.addOption({QStringLiteral("log"),
                      QStringLiteral("Write the day log in DIR (else PEERTEST_LOG_DIR)."),
                      QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("capture"),
                      QStringLiteral("Write the day's capture in DIR (else PEERTEST_CAPTURE)."),
                      QStringLiteral("DIR")});
}

RecordPlace RecordPlaceFrom(const QCommandLineParser& parser, bool alwaysLog)
{
    RecordPlace place;
    place.logFolder = parser.isSet(QStringLiteral("log"))
                          ? Absolute(parser.value(QStringLiteral("log")))
                          : Absolute(qEnvironmentVariable("PEERTEST_LOG_DIR").trimmed());
    if (place.logFolder.isEmpty() && alwaysLog)
        place.logFolder = LogFolderForRun();
    place.captureFolder = parser.isSet(QStringLiteral("capture"))
                              ? parser.value(QStringLiteral("capture"))
                              : qEnvironmentVariable("PEERTEST_CAPTURE");
    return place;
}

Record::Record(const RecordPlace& place, const QString& title)
{
    if (!place.logFolder.isEmpty()) {
        if (!MonthFile::MakeFolder(place.logFolder))
            SayOnStandardError(QStringLiteral("the log folder %1 cannot be created; nothing "
                                              "will be logged")
                                   .arg(place.logFolder));
        log_ = std::make_unique<DayLog>(place.logFolder);
        activity_ = std::make_unique<ActivityRecord>(*log_);
        const LogWriteResult started = log_->LogStart(title, QString());
        if (!started.failure.isEmpty())
            EchoIfError(activity_->LogFailureLine(started.failure));
    }
    if (!place.captureFolder.isEmpty())
        captureFile_ = std::make_unique<CaptureFile>(place.captureFolder, Clock().Now().date());
}

Record::~Record()
{
    if (log_)
        log_->LogEnd();
}

void Record::Line(const QString& text)
{
    if (activity_)
        activity_->Record(text, EchoIfError);
}

std::unique_ptr<CaptureTap> Record::NewTap()
{
    if (!captureFile_)
        return nullptr;
    return std::make_unique<CaptureTap>(*captureFile_, [this](const QString& notice) {
        Line(notice);
        if (!activity_)
            SayOnStandardError(notice);
    });
}

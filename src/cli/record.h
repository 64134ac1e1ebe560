#pragma once

#include <QCommandLineParser>
#include <QString>

#include <memory>

class ActivityRecord;
class CaptureFile;
class CaptureTap;
class DayLog;

// Where a run's record goes: the day log's folder and the capture's, each empty for none.
struct RecordPlace {
    QString logFolder;
    QString captureFolder;
};

// Adds --log DIR and --capture DIR.
void AddRecordOptions(QCommandLineParser& parser);

// The options, or else PEERTEST_LOG_DIR and PEERTEST_CAPTURE. With `alwaysLog` (serve), a run
// without either logs where the window would.
RecordPlace RecordPlaceFrom(const QCommandLineParser& parser, bool alwaysLog);

// The day log and the capture of one run, as the window writes them: "Start " + the title
// first, "End " + the title last, each line stamped. Error lines ("Log Err: ...",
// "Capture Err: ...") are also printed on standard error.
class Record {
public:
    Record(const RecordPlace& place, const QString& title);
    ~Record();
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    bool Logging() const { return log_ != nullptr; }
    bool Capturing() const { return captureFile_ != nullptr; }

    void Line(const QString& text);
    // A tap for one TCP connection or one UDP socket; null when nothing is captured.
    std::unique_ptr<CaptureTap> NewTap();

private:
    std::unique_ptr<DayLog> log_;
    std::unique_ptr<ActivityRecord> activity_;
    std::unique_ptr<CaptureFile> captureFile_;
};

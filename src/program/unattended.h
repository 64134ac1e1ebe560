#pragma once

#include "net/receiverview.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class ActivityRecord;
class Capture;
class DayLog;
class Receiver;
class ReceiverRules;

// Whether the run is one nobody sees: Qt is told to draw on a headless platform (offscreen,
// minimal), by QT_QPA_PLATFORM or by -platform among the arguments.
bool NoOneSeesTheWindow(const QStringList& arguments);

// The arguments without Qt's "-platform NAME", which only the window would have taken out.
QStringList WithoutPlatformArgument(QStringList arguments);

// The receiver alone, for a run nobody sees: the window's receiving half without the window. It
// logs what the window would (the same "Start " and "End " lines, the same lines of its list,
// the same capture), and prints every error line on standard error after "peertest: ". The run
// ends the ordinary way with status 1, so a service manager can tell and start it again, when
// the start line cannot be logged, when no port is given, and once the receiver has closed for
// good on an error (or could not open at all).
class UnattendedReceiver : public QObject, private ReceiverView {
    Q_OBJECT
public:
    // The command line and `receiverPort` choose the mode and the port as they do for the window.
    UnattendedReceiver(DayLog& log, const QString& commandLine, const QString& receiverPort);
    ~UnattendedReceiver() override;

    // Starts the log and the capture and opens the receiver.
    void Start();
    // Shows what already arrived, closes the receiver, writes the "End " line and ends the
    // process with `status`.
    void End(int status);

    Receiver& Rcv() { return *receiver_; }

private:
    QString RcvPortText() const override { return portText_; }
    void SetRcvOpenEnabled(bool) override {}
    QString ReplyText() const override { return QString(); }
    bool HexDisplay() const override { return true; }
    void AddList2Msg(const QString& text) override;

    void EndIfClosedForGood();

    DayLog& log_;
    std::unique_ptr<ActivityRecord> record_;
    std::unique_ptr<Receiver> receiver_;
    std::unique_ptr<Capture> capture_;
    std::unique_ptr<ReceiverRules> rules_;
    const bool udpMode_;
    QString portText_;
};

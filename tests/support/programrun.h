#pragma once

#include <QDate>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <csignal>

// The built program, copied into a temporary folder and run headless from there, so its log
// files land in that folder. The caller's own PEERTEST_* settings are not passed on.
class ProgramRun {
public:
    ProgramRun();
    ~ProgramRun();

    // Sets a variable of the program's environment (before start).
    void setEnvironment(const QString& name, const QString& value);
    // Points the program's log elsewhere through PEERTEST_LOG_DIR (before start).
    void logIn(const QString& folder);
    // Gives the receiver a port the system just chose, for TCP and UDP, through
    // PEERTEST_RECEIVER_PORT (before start): a headless run without one ends at once.
    void listenOnAFreePort();

    bool start(const QStringList& arguments);
    // The same through /bin/sh, `setup` run first with $ff the byte 0xFF: for a variable holding
    // bytes that QProcess, which takes text, cannot pass.
    bool startThroughShell(const QString& setup, const QStringList& arguments);
    // Waits (bounded) until the window has loaded, i.e. this run's "Start " line is on disk.
    bool waitUntilLoaded();
    // Asks the program to close the ordinary way (SIGTERM or SIGINT) and waits for it to end
    // with exit code 0.
    bool stop(int signalNumber = SIGTERM);

    QString folder() const { return dir_.path(); }
    QString logFolder() const { return logFolder_; }
    QString dayFileName(const QDate& date = QDate::currentDate()) const;
    // The day file, decoded from Windows-31J and cut at CR LF.
    QStringList dayFileLines() const;
    QProcess& process() { return process_; }

private:
    QTemporaryDir dir_;
    QString logFolder_;
    QProcess process_;
    QStringList linesBeforeStart_;
};

// The text of a log line after its two date and time stamps.
QString LoggedMessage(const QString& line);
// True when the line is "MM-dd-yyyy HH:mm:ss " and then `text` (the start and end lines).
bool IsLogLine(const QString& line, const QString& text);
// True when the line is "MM-dd-yyyy HH:mm:ss " twice and then `message`.
bool IsLoggedActivity(const QString& line, const QString& message);

#pragma once

#include "log/clock.h"
#include "log/log1month.h"

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>

// A throw-away program folder, a hand-set clock and a day log over both; the folder is removed
// when it goes out of scope.
class LogSandbox {
public:
    LogSandbox();
    ~LogSandbox();
    LogSandbox(const LogSandbox&) = delete;
    LogSandbox& operator=(const LogSandbox&) = delete;

    // The clock's reading; with ticking on every reading moves it one second on.
    void setNow(const QDateTime& now) { now_ = now; }
    void setTicking(bool ticking) { ticking_ = ticking; }
    // From now on the clock reads the system's time, to the second.
    void useSystemClock() { systemClock_ = true; }

    QString folder() const { return dir_.path(); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString weekdayFileName() const;

    bool exists(const QString& name) const;
    QByteArray bytes(const QString& name) const;
    void write(const QString& name, const QByteArray& bytes) const;
    // The file decoded from Windows-31J and cut at CR LF; a missing file gives no lines.
    QStringList lines(const QString& name) const;

private:
    QTemporaryDir dir_;
    QDateTime now_;
    bool ticking_ = false;
    bool systemClock_ = false;

public:
    const Clock clock;
    DayLog log;
};

// 24 July 2018, 13:05:09 local time: a Tuesday, the day file 24.LOG.
QDateTime SandboxMoment();

#include "support/logsandbox.h"

#include <QFile>
#include <QLocale>
#include <QStringDecoder>

QDateTime SandboxMoment()
{
    return QDateTime(QDate(2018, 7, 24), QTime(13, 5, 9));
}

LogSandbox::LogSandbox()
    : now_(SandboxMoment()), clock([this] {
          if (systemClock_)
              return QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch());
          const QDateTime reading = now_;
          if (ticking_)
              now_ = now_.addSecs(1);
          return reading;
      }),
      log(dir_.path(), clock)
{
}

LogSandbox::~LogSandbox() = default;

QString LogSandbox::weekdayFileName() const
{
    return QLocale::system().dayName(now_.date().dayOfWeek()).left(3);
}

bool LogSandbox::exists(const QString& name) const
{
    return QFile::exists(path(name));
}

QByteArray LogSandbox::bytes(const QString& name) const
{
    QFile in(path(name));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

void LogSandbox::write(const QString& name, const QByteArray& bytes) const
{
    QFile out(path(name));
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(bytes);
}

QStringList LogSandbox::lines(const QString& name) const
{
    QStringDecoder decoder("windows-31j");
    QStringList lines = QString(decoder.decode(bytes(name))).split(QStringLiteral("\r\n"));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

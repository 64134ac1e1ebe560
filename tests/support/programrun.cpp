#include "support/programrun.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

ProgramRun::ProgramRun()
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process_.setProcessEnvironment(environment);
}

ProgramRun::~ProgramRun()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

bool ProgramRun::start(const QStringList& arguments)
{
    const QString copy = dir_.filePath(QStringLiteral("peertest"));
    if (!QFile::copy(QStringLiteral(PEERTEST_BINARY), copy))
        return false;
    process_.start(copy, arguments);
    return process_.waitForStarted(10000);
}

bool ProgramRun::waitUntilLoaded()
{
    return QTest::qWaitFor([this] { return !dayFileLines().isEmpty(); }, 10000);
}

bool ProgramRun::stop()
{
    process_.terminate();
    return process_.waitForFinished(10000) && process_.exitStatus() == QProcess::NormalExit &&
           process_.exitCode() == 0;
}

QString ProgramRun::dayFileName(const QDate& date) const
{
    return dir_.filePath(date.toString(QStringLiteral("dd")) + QStringLiteral(".LOG"));
}

QStringList ProgramRun::dayFileLines() const
{
    QFile file(dayFileName());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder decoder("windows-31j");
    QStringList lines = QString(decoder.decode(file.readAll())).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

QString LoggedMessage(const QString& line)
{
    return line.mid(40);
}

bool IsLoggedActivity(const QString& line, const QString& message)
{
    static const QRegularExpression stamps(
        QStringLiteral("^(\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d ){2}"));
    return stamps.match(line).hasMatch() && LoggedMessage(line) == message;
}

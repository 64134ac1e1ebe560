#include "support/programrun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

ProgramRun::ProgramRun() : logFolder_(dir_.path())
{
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("PEERTEST_LOG_DIR"));
    environment.remove(QStringLiteral("PEERTEST_RECEIVER_PORT"));
    process_.setProcessEnvironment(environment);
}

void ProgramRun::setEnvironment(const QString& name, const QString& value)
{
    QProcessEnvironment environment = process_.processEnvironment();
    environment.insert(name, value);
    process_.setProcessEnvironment(environment);
}

void ProgramRun::logIn(const QString& folder)
{
    setEnvironment(QStringLiteral("PEERTEST_LOG_DIR"), folder);
    logFolder_ = folder;
}

void ProgramRun::listenOnAFreePort()
{
    QTcpServer tcp;
    QUdpSocket udp;
    while (tcp.listen(QHostAddress::Any, 0) &&
           !udp.bind(QHostAddress::Any, tcp.serverPort(), QAbstractSocket::DontShareAddress))
        tcp.close();
    setEnvironment(QStringLiteral("PEERTEST_RECEIVER_PORT"), QString::number(tcp.serverPort()));
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
    linesBeforeStart_ = dayFileLines();
    process_.start(copy, arguments);
    return process_.waitForStarted(10000);
}

bool ProgramRun::startThroughShell(const QString& setup, const QStringList& arguments)
{
    const QString copy = dir_.filePath(QStringLiteral("peertest"));
    if (!QFile::copy(QStringLiteral(PEERTEST_BINARY), copy))
        return false;
    const QString script =
        QStringLiteral("ff=$(printf '\\377'); ") + setup + QStringLiteral("; exec \"$0\" \"$@\"");
    process_.start(QStringLiteral("/bin/sh"), QStringList{"-c", script, copy} + arguments);
    return process_.waitForStarted(10000);
}

bool ProgramRun::waitUntilLoaded()
{
    // A day file left from earlier may be emptied or continued; either way the last line is
    // this run's start line once the window has loaded.
    return QTest::qWaitFor(
        [this] {
            const QStringList lines = dayFileLines();
            return lines != linesBeforeStart_ && !lines.isEmpty() &&
                   lines.constLast().mid(20).startsWith(QStringLiteral("Start "));
        },
        10000);
}

bool ProgramRun::stop(int signalNumber)
{
    // No process means no id (0), and signalling 0 would reach this whole process group.
    const qint64 id = process_.processId();
    if (id <= 0 || ::kill(pid_t(id), signalNumber) != 0)
        return false;
    return process_.waitForFinished(10000) && process_.exitStatus() == QProcess::NormalExit &&
           process_.exitCode() == 0;
}

QString ProgramRun::dayFileName(const QDate& date) const
{
    return QDir(logFolder_).filePath(date.toString(QStringLiteral("dd")) + QStringLiteral(".LOG"));
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

namespace {

bool HasStamps(const QString& line, int count)
{
    static const QRegularExpression stamp(
        QStringLiteral("\\G\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d "));
    for (int i = 0; i < count; ++i) {
        if (!stamp.match(line, 20 * i).hasMatch())
            return false;
    }
    return true;
}

} // namespace

bool IsLogLine(const QString& line, const QString& text)
{
    return HasStamps(line, 1) && line.mid(20) == text;
}

bool IsLoggedActivity(const QString& line, const QString& message)
{
    return HasStamps(line, 2) && LoggedMessage(line) == message;
}

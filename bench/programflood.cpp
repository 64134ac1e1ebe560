#include "programflood.h"

#include "benchsupport.h"
#include "support/processports.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <unistd.h>

bool StartHeadlessReceiver(QProcess& program, quint16 port, const QString& logFolder,
                           const QString& rules)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PEERTEST_RECEIVER_PORT"), QString::number(port));
    environment.insert(QStringLiteral("PEERTEST_LOG_DIR"), logFolder);
    if (!rules.isEmpty())
        environment.insert(QStringLiteral("PEERTEST_RULES"), rules);
    program.setProcessEnvironment(environment);
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(QStringLiteral(PEERTEST_BINARY), {QStringLiteral("udp")});
    if (!program.waitForStarted(10000))
        return false;
    QElapsedTimer waited;
    waited.start();
    while (!HoldsUdpPort(program.processId(), port) && waited.elapsed() < 10000)
        usleep(20000);
    if (HoldsUdpPort(program.processId(), port))
        return true;
    program.kill();
    program.waitForFinished(10000);
    return false;
}

ProgramFloodResult FloodProgram(int count, int rate, int size)
{
    ProgramFloodResult result;
    QTemporaryDir logFolder;
    const quint16 port = FreeUdpPort();
    QProcess program;
    if (!StartHeadlessReceiver(program, port, logFolder.path()))
        return result;
    const double cpuBefore = ProcessCpuSeconds(program.processId());
    QProcess sender;
    sender.start(QStringLiteral(BENCH_UDPSENDER), {QString::number(port), QString::number(count),
                                                   QString::number(rate), QString::number(size)});
    sender.waitForFinished(600000);
    result.sent = sender.readAllStandardOutput().trimmed().toLongLong();
    const QStringList days = QDir(logFolder.path()).entryList({QStringLiteral("*.LOG")});
    const QString dayFile = days.isEmpty() ? QString() : logFolder.filePath(days.constFirst());
    WaitUntilStill(dayFile);
    const double cpu = ProcessCpuSeconds(program.processId()) - cpuBefore;
    ::kill(pid_t(program.processId()), SIGTERM);
    program.waitForFinished(30000);
    CountRecord(dayFile, result.logged, result.lost);
    result.cpuUsPerDatagram = result.logged > 0 ? cpu * 1e6 / double(result.logged) : 0;
    return result;
}

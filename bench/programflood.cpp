#include "programflood.h"

#include "benchsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <csignal>
#include <unistd.h>

namespace {

// Whether the process holds a UDP socket on `port`: the system's socket tables name the socket's
// inode, the process's descriptors link to it. Asked instead of binding the port, which could
// take it from under the program as it starts.
bool HoldsUdpPort(qint64 pid, quint16 port)
{
    const QByteArray localPort =
        ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QSet<QByteArray> inodes;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 9 && fields.at(1).endsWith(localPort))
                inodes.insert("socket:[" + fields.at(9) + ']');
        }
    }
    const QString fds = QStringLiteral("/proc/%1/fd/").arg(pid);
    for (const QString& fd : QDir(fds).entryList(QDir::NoDotAndDotDot | QDir::System)) {
        char link[64] = {};
        const ssize_t length =
            ::readlink(QFile::encodeName(fds + fd).constData(), link, sizeof link - 1);
        if (length > 0 && inodes.contains(QByteArray(link, length)))
            return true;
    }
    return false;
}

// User and system CPU of the process so far, in seconds.
double ProcessCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // The fields after the command's name, which may hold spaces, closed by the last ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = double(fields.at(11).toLongLong() + fields.at(12).toLongLong());
    return ticks / double(sysconf(_SC_CLK_TCK));
}

// The day file's size once it has stopped growing for two seconds (the last LOST line may
// follow its losses by a second).
void WaitUntilStill(const QString& dayFile)
{
    qint64 size = -1;
    QElapsedTimer still;
    still.start();
    while (still.elapsed() < 2000) {
        const qint64 now = QFileInfo(dayFile).size();
        if (now != size) {
            size = now;
            still.restart();
        }
        usleep(20000);
    }
}

} // namespace

ProgramFloodResult FloodProgram(int count, int rate, int size)
{
    ProgramFloodResult result;
    QTemporaryDir logFolder;
    const quint16 port = FreeUdpPort();
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("PEERTEST_RECEIVER_PORT"), QString::number(port));
    environment.insert(QStringLiteral("PEERTEST_LOG_DIR"), logFolder.path());
    program.setProcessEnvironment(environment);
    program.setStandardErrorFile(QProcess::nullDevice());
    program.start(QStringLiteral(PEERTEST_BINARY), {QStringLiteral("udp")});
    if (!program.waitForStarted(10000))
        return result;
    QElapsedTimer waited;
    waited.start();
    while (!HoldsUdpPort(program.processId(), port) && waited.elapsed() < 10000)
        usleep(20000);
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

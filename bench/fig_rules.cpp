// The receiver standing in for a device under a steady stream of requests: the program itself,
// headless with a rules file of ten rules (the tenth matching), against the bare responder
// (bareresponder.cpp) as it is and keeping the program's promises, each answering 20,000
// requests a second for ten seconds.
#include "benchsupport.h"
#include "figures.h"
#include "programflood.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <unistd.h>

namespace {

constexpr int kRequests = 200000;
constexpr int kRate = 20000;

struct Responded {
    qint64 sent = 0;
    qint64 answered = 0; // answers the requester received
    qint64 logged = 0;   // RCV lines
    qint64 autoLines = 0;
    qint64 lost = 0;
    double cpuUsPerAnswer = 0;
};

QString WriteRules(const QTemporaryDir& dir)
{
    QString rules;
    for (int rule = 1; rule <= 10; ++rule)
        rules += QStringLiteral("[[rule]]\nname = \"r%1\"\nmatch = '\"REQUEST-%2\"'\n"
                                "reply = '{echo}'\n\n")
                     .arg(rule)
                     .arg(rule, 8, 10, QLatin1Char('0'));
    const QString path = dir.filePath(QStringLiteral("rules.toml"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(rules.toUtf8());
    return path;
}

void Request(quint16 port, Responded& result)
{
    QProcess requester;
    requester.start(QStringLiteral(BENCH_UDPREQUESTER),
                    {QString::number(port), QString::number(kRequests), QString::number(kRate)});
    requester.waitForFinished(120000);
    const QList<QByteArray> counts = requester.readAllStandardOutput().trimmed().split(' ');
    result.sent = counts.value(0).toLongLong();
    result.answered = counts.value(1).toLongLong();
}

qint64 LinesStartingAt(const QString& dayFile, const QByteArray& tag)
{
    QFile file(dayFile);
    qint64 lines = 0;
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd())
            lines += file.readLine().mid(40).startsWith(tag) ? 1 : 0;
    }
    return lines;
}

Responded RespondByProgram()
{
    Responded result;
    QTemporaryDir dir;
    const quint16 port = FreeUdpPort();
    QProcess program;
    if (!StartHeadlessReceiver(program, port, dir.path(), WriteRules(dir)))
        return result;
    const double cpuBefore = ProcessCpuSeconds(program.processId());
    Request(port, result);
    const QStringList days = QDir(dir.path()).entryList({QStringLiteral("*.LOG")});
    const QString dayFile = days.isEmpty() ? QString() : dir.filePath(days.constFirst());
    WaitUntilStill(dayFile);
    const double cpu = ProcessCpuSeconds(program.processId()) - cpuBefore;
    ::kill(pid_t(program.processId()), SIGTERM);
    program.waitForFinished(30000);
    CountRecord(dayFile, result.logged, result.lost);
    result.autoLines = LinesStartingAt(dayFile, "AUTO[r10]");
    result.cpuUsPerAnswer = result.answered > 0 ? cpu * 1e6 / double(result.answered) : 0;
    return result;
}

Responded RespondBare(bool kept)
{
    Responded result;
    QTemporaryDir dir;
    const quint16 port = FreeUdpPort();
    const QString dayFile = dir.filePath(QStringLiteral("bare.LOG"));
    QProcess responder;
    QStringList arguments{QString::number(port), QString::number(kRequests), dayFile};
    if (kept)
        arguments << QStringLiteral("kept");
    responder.start(QStringLiteral(BENCH_BARERESPONDER), arguments);
    responder.waitForReadyRead(10000);
    responder.readLine(); // ready
    Request(port, result);
    responder.waitForFinished(60000);
    const QList<QByteArray> figures = responder.readAllStandardOutput().trimmed().split(' ');
    result.cpuUsPerAnswer = figures.value(1).toDouble();
    CountRecord(dayFile, result.logged, result.lost);
    result.autoLines = LinesStartingAt(dayFile, "AUTO[r10]");
    return result;
}

void Print(const QString& who, const Responded& result)
{
    PrintText(QStringLiteral("rules 20,000/s, %1: sent / answered / RCV / AUTO / LOST").arg(who),
              QStringLiteral("%1 / %2 / %3 / %4 / %5")
                  .arg(result.sent)
                  .arg(result.answered)
                  .arg(result.logged)
                  .arg(result.autoLines)
                  .arg(result.lost));
    PrintFigure(QStringLiteral("rules 20,000/s, %1: CPU per answered request").arg(who),
                result.cpuUsPerAnswer, QStringLiteral("us"));
}

} // namespace

void RulesFigures()
{
    const Responded bare = RespondBare(false);
    const Responded kept = RespondBare(true);
    const Responded program = RespondByProgram();
    Print(QStringLiteral("bare responder"), bare);
    Print(QStringLiteral("bare responder keeping the promises"), kept);
    Print(QStringLiteral("program"), program);
    if (bare.cpuUsPerAnswer > 0)
        PrintFigure(QStringLiteral("rules 20,000/s, program / bare responder"),
                    program.cpuUsPerAnswer / bare.cpuUsPerAnswer, QStringLiteral("x"));
    if (kept.cpuUsPerAnswer > 0)
        PrintFigure(QStringLiteral("rules 20,000/s, program / bare responder keeping the promises"),
                    program.cpuUsPerAnswer / kept.cpuUsPerAnswer, QStringLiteral("x"));
}

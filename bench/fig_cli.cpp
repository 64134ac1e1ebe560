// peertest-cli beside bare anchors, in the same run: one `send` against ncat doing the same
// exchange with a local echo, process start to exit; `run` doing 10,000 send/expect exchanges on
// one connection against a bare C client in lockstep; `serve` answering 200 TCP peers in
// lockstep at once, and UDP requests at 20,000 a second for 10 s.
#include "benchsupport.h"
#include "figures.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <csignal>

namespace {

constexpr int kSendRuns = 21;
constexpr int kWarmUps = 3;
constexpr int kRunExchanges = 10000;
constexpr int kServePeers = 200;
constexpr int kServeExchangesEach = 500;
constexpr int kUdpRate = 20000;
constexpr int kUdpSeconds = 10;

const QByteArray kServeRules = R"(
[[rule]]
name = "ping"
match = '"PING" {n:4} "\r\n"'
reply = '"PONG" {n} "\r\n"'

[[rule]]
name = "ask"
match = '"Q" {n:8}'
reply = '"A" {n}'
)";

// A helper started for the figure, ended with it.
class Helper {
public:
    explicit Helper(const QString& program, const QStringList& arguments = {})
    {
        process_.start(program, arguments);
    }
    ~Helper()
    {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished(5000);
    }
    quint16 PortLine()
    {
        return process_.waitForReadyRead(10000) ? process_.readLine().trimmed().toUShort() : 0;
    }

private:
    QProcess process_;
};

// Start to exit, in ms; negative when the program did not end with status 0.
double TimedRun(const QString& program, const QStringList& arguments,
                const QString& input = QString())
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    const bool ended = process.waitForFinished(120000);
    const double ms = clock.nsecsElapsed() / 1e6;
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? ms
                                                                                            : -1;
}

QStringList Words(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    return QString::fromLatin1(process.readAllStandardOutput()).split(u' ', Qt::SkipEmptyParts);
}

void SendFigures(const QTemporaryDir& dir, quint16 echoPort)
{
    const QString ncat = QStandardPaths::findExecutable(QStringLiteral("ncat"));
    if (ncat.isEmpty()) {
        std::printf("send: ncat is not installed (make bench installs it)\n");
        return;
    }
    const QString input = dir.filePath(QStringLiteral("ping.txt"));
    QFile file(input);
    file.open(QIODevice::WriteOnly);
    file.write("PING\r\n");
    file.close();
    const QString target = QStringLiteral("tcp://127.0.0.1:%1").arg(echoPort);
    std::vector<double> cli;
    std::vector<double> anchor;
    for (int run = 0; run < kWarmUps + kSendRuns; ++run) {
        const double c =
            TimedRun(QStringLiteral(PEERTEST_CLI_BINARY),
                     {QStringLiteral("send"), target, QStringLiteral("\"PING\\r\\n\"")});
        const double n =
            TimedRun(ncat, {QStringLiteral("127.0.0.1"), QString::number(echoPort)}, input);
        if (run >= kWarmUps) {
            cli.push_back(c);
            anchor.push_back(n);
        }
    }
    PrintFigure(QStringLiteral("cli send, one TCP exchange, start to exit"), Median(cli),
                QStringLiteral("ms"));
    PrintFigure(QStringLiteral("ncat, the same exchange"), Median(anchor), QStringLiteral("ms"));
    PrintFigure(QStringLiteral("cli send, ratio to ncat"), Median(cli) / Median(anchor),
                QStringLiteral("x (target at most 2)"));
}

void RunFigures(const QTemporaryDir& dir, quint16 echoPort)
{
    QByteArray script = "target = \"tcp://127.0.0.1:" + QByteArray::number(echoPort) +
                        "\"\n[[test]]\nname = \"lockstep\"\nsteps = [\n";
    for (int i = 0; i < kRunExchanges; ++i) {
        const QByteArray request = QByteArray::number(i % 10000).rightJustified(4, '0');
        script += "{ send = '\"PING" + request + "\\r\\n\"' },\n{ expect = '\"PING" + request +
                  "\\r\\n\"' },\n";
    }
    script += "]\n";
    const QString path = dir.filePath(QStringLiteral("lockstep.toml"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(script);
    file.close();
    const double ms = TimedRun(QStringLiteral(PEERTEST_CLI_BINARY), {QStringLiteral("run"), path});
    const QStringList bare =
        Words(QStringLiteral(BENCH_LOCKSTEP),
              {QString::number(echoPort), QStringLiteral("1"), QString::number(kRunExchanges)});
    const double cliRate = ms > 0 ? kRunExchanges / (ms / 1000) : 0;
    const double bareRate = bare.size() == 4 ? bare.at(0).toDouble() / bare.at(1).toDouble() : 0;
    PrintFigure(QStringLiteral("cli run, 10,000 exchanges on one connection, start to exit"),
                cliRate, QStringLiteral("exchanges/s"), 0);
    PrintFigure(QStringLiteral("bare C client in lockstep, the same"), bareRate,
                QStringLiteral("exchanges/s"), 0);
    PrintFigure(QStringLiteral("cli run, share of the bare client's rate"), cliRate / bareRate,
                QStringLiteral("(target at least 0.5)"));
}

// The serve's ports, from the first lines of its transcript.
bool ServePorts(const QString& transcript, quint16& tcp, quint16& udp)
{
    static const QRegularExpression ports(
        QStringLiteral("tcp \\[::\\]:(\\d+) listening\\n.* udp \\[::\\]:(\\d+) bound"));
    const bool found = SpinUntil(
        [&] {
            QFile file(transcript);
            return file.open(QIODevice::ReadOnly) &&
                   ports.match(QString::fromLatin1(file.readAll())).hasMatch();
        },
        10000);
    QFile file(transcript);
    file.open(QIODevice::ReadOnly);
    const QRegularExpressionMatch match = ports.match(QString::fromLatin1(file.readAll()));
    tcp = match.captured(1).toUShort();
    udp = match.captured(2).toUShort();
    return found;
}

void ServeFigures(const QTemporaryDir& dir)
{
    const QString rules = dir.filePath(QStringLiteral("rules.toml"));
    QFile file(rules);
    file.open(QIODevice::WriteOnly);
    file.write(kServeRules);
    file.close();
    QProcess serve;
    serve.setStandardOutputFile(dir.filePath(QStringLiteral("transcript.txt")));
    serve.start(QStringLiteral(PEERTEST_CLI_BINARY),
                {QStringLiteral("serve"), rules, QStringLiteral("--tcp"), QStringLiteral("0"),
                 QStringLiteral("--udp"), QStringLiteral("0"), QStringLiteral("--log"),
                 dir.path()});
    quint16 tcp = 0;
    quint16 udp = 0;
    if (!ServePorts(dir.filePath(QStringLiteral("transcript.txt")), tcp, udp)) {
        std::printf("serve: did not start\n");
        return;
    }
    const QStringList lockstep =
        Words(QStringLiteral(BENCH_LOCKSTEP), {QString::number(tcp), QString::number(kServePeers),
                                               QString::number(kServeExchangesEach)});
    if (lockstep.size() == 4) {
        PrintFigure(QStringLiteral("cli serve, 200 TCP peers in lockstep"),
                    lockstep.at(0).toDouble() / lockstep.at(1).toDouble(),
                    QStringLiteral("exchanges/s (target at least 20,000)"), 0);
        PrintFigure(QStringLiteral("cli serve, 200 TCP peers: round trip p50"),
                    lockstep.at(2).toDouble(), QStringLiteral("us"), 0);
        PrintFigure(QStringLiteral("cli serve, 200 TCP peers: round trip p99"),
                    lockstep.at(3).toDouble(), QStringLiteral("us"), 0);
    }
    const QStringList asked = Words(
        QStringLiteral(BENCH_UDPASKER),
        {QString::number(udp), QString::number(kUdpRate * kUdpSeconds), QString::number(kUdpRate)});
    if (asked.size() == 2)
        std::printf("cli serve, UDP 20,000/s for 10 s: sent / answered: %s / %s\n",
                    qPrintable(asked.at(0)), qPrintable(asked.at(1).trimmed()));
    ::kill(pid_t(serve.processId()), SIGTERM);
    serve.waitForFinished(20000);
}

} // namespace

void CliFigures()
{
    QTemporaryDir dir;
    Helper echo(QStringLiteral(BENCH_ECHOSERVER));
    const quint16 echoPort = echo.PortLine();
    SendFigures(dir, echoPort);
    RunFigures(dir, echoPort);
    ServeFigures(dir);
}

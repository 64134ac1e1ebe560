// serve as a process, with one peer whose requests are costly to match beside one doing quick
// round trips: the costly peer's matching is bounded and the quick one keeps its pace.
#include "clisupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <unistd.h>

namespace {

// A backtracking expression first, so every request is tried against it.
const QByteArray kRules = R"(
[[rule]]
name = "slow"
match = 're"(a|aa)+b"'
reply = '"X\r\n"'

[[rule]]
name = "ping"
match = '"PING " {arg:*} "\r\n"'
reply = '"PONG " {arg} "\r\n"'
)";

// Turns the event loop until `done`, at most `ms`. Unlike qWaitFor it never sleeps between
// events, so the round trips are timed as they are.
bool Spin(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(ms))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// User and system time of a process, in seconds.
double CpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().split(' ');
    return (fields.at(12).toDouble() + fields.at(13).toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

// Round trips of "PING n", one every 2 ms, each timed from its write to its whole answer.
class QuickPeer : public QObject {
public:
    explicit QuickPeer(quint16 port)
    {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        connect(&socket_, &QTcpSocket::readyRead, this, [this] { Read(); });
        pace_.setInterval(2);
        connect(&pace_, &QTimer::timeout, this, [this] { Ping(); });
    }
    bool Connected() { return socket_.waitForConnected(5000); }
    void Start()
    {
        trips_.clear();
        pace_.start();
    }
    std::vector<double> Stop()
    {
        pace_.stop();
        Spin([this] { return !waiting_; }, 5000);
        return trips_;
    }

private:
    void Ping()
    {
        if (waiting_)
            return;
        expected_ = "PONG " + QByteArray::number(++count_) + "\r\n";
        waiting_ = true;
        clock_.start();
        socket_.write("PING " + QByteArray::number(count_) + "\r\n");
    }
    void Read()
    {
        answer_ += socket_.readAll();
        if (!waiting_ || answer_.size() < expected_.size())
            return;
        QCOMPARE(answer_, expected_);
        trips_.push_back(double(clock_.nsecsElapsed()) / 1e6);
        answer_.clear();
        waiting_ = false;
    }

    QTcpSocket socket_;
    QTimer pace_;
    QElapsedTimer clock_;
    QByteArray expected_;
    QByteArray answer_;
    bool waiting_ = false;
    int count_ = 0;
    std::vector<double> trips_;
};

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

class TestServeFairness : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void costlyPeerBesideQuickOne_data();
    void costlyPeerBesideQuickOne();
    void cleanupTestCase();

private:
    QTemporaryDir dir_;
    QProcess serve_;
    QString out_;
    quint16 port_ = 0;
};

void TestServeFairness::initTestCase()
{
    WriteFile(dir_.filePath(QStringLiteral("rules.toml")), kRules);
    static const QRegularExpression listening(QStringLiteral("tcp \\[::\\]:(\\d+) listening"));
    const QRegularExpressionMatch match =
        StartServe(serve_,
                   {dir_.filePath(QStringLiteral("rules.toml")), QStringLiteral("--tcp"),
                    QStringLiteral("0"), QStringLiteral("--log"), dir_.path()},
                   listening, out_);
    QVERIFY2(match.hasMatch(), qPrintable(out_));
    port_ = match.captured(1).toUShort();
}

// Each row: what the costly peer writes, `writes` times, one write a `pace` of milliseconds, then
// `last`; the answer it must get; and how much of serve's CPU it may cost at most.
void TestServeFairness::costlyPeerBesideQuickOne_data()
{
    QTest::addColumn<QByteArray>("write");
    QTest::addColumn<int>("writes");
    QTest::addColumn<int>("pace");
    QTest::addColumn<QByteArray>("last");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<double>("mostCpu");

    // Searched again from its start at each write, 1 MiB of it cost 0.55 s.
    const QByteArray run(1020 * 1024, 'a');
    QTest::newRow("a request trickled in 1 KiB writes")
        << QByteArray(1024, 'a') << 1020 << 1 << QByteArray("\r\n") << "PONG " + run + "\r\n"
        << 0.3;
    // Each write cost 23 ms against the expression, however often it came.
    QTest::newRow("requests the expression backtracks on")
        << QByteArray(40, 'a') + "cb\r\n"
        << 40 << 10 << QByteArray() << QByteArray() << 0.3;
}

void TestServeFairness::costlyPeerBesideQuickOne()
{
    QFETCH(QByteArray, write);
    QFETCH(int, writes);
    QFETCH(int, pace);
    QFETCH(QByteArray, last);
    QFETCH(QByteArray, answer);
    QFETCH(double, mostCpu);
#if defined(__SANITIZE_ADDRESS__)
    // There the sanitizer's cost per byte sets the figure, not the matching's: 0.24 s here and
    // 1.03 s on another machine for the first row. Only a gross cost is caught.
    mostCpu *= 10;
#endif

    QuickPeer quick(port_);
    QVERIFY(quick.Connected());
    quick.Start();
    Spin([] { return false; }, 300);
    const std::vector<double> alone = quick.Stop();

    QTcpSocket costly;
    costly.connectToHost(QHostAddress::LocalHost, port_);
    QVERIFY(costly.waitForConnected(5000));
    const double cpuBefore = CpuSeconds(serve_.processId());
    quick.Start();
    costly.write(answer.isEmpty() ? QByteArray() : QByteArray("PING "));
    int written = 0;
    QTimer writer;
    connect(&writer, &QTimer::timeout, this, [&] {
        costly.write(++written < writes ? write : write + last);
        if (written == writes)
            writer.stop();
    });
    writer.start(pace);
    QByteArray got;
    QVERIFY(Spin(
        [&] {
            got += costly.readAll();
            return written == writes && costly.bytesToWrite() == 0 && got.size() >= answer.size();
        },
        20000));
    Spin([] { return false; }, 50);
    const std::vector<double> beside = quick.Stop();
    const double cpu = CpuSeconds(serve_.processId()) - cpuBefore;
    QCOMPARE(got.size(), answer.size());
    QVERIFY(got == answer);
    QVERIFY2(cpu <= mostCpu, qPrintable(QStringLiteral("serve took %1 s").arg(cpu)));
    // Within twice its pace alone, with a millisecond to spare for a machine shared with others.
    QVERIFY(!alone.empty() && beside.size() > 10);
    QVERIFY2(
        Median(beside) <= 2 * Median(alone) + 1,
        qPrintable(
            QStringLiteral("%1 ms beside, %2 ms alone").arg(Median(beside)).arg(Median(alone))));
}

// The expression that went over its limit was told once, however often it did.
void TestServeFairness::cleanupTestCase()
{
    ::kill(pid_t(serve_.processId()), SIGTERM);
    QVERIFY(serve_.waitForFinished(10000));
    out_ += QString::fromUtf8(serve_.readAllStandardOutput());
    QCOMPARE(out_.count(QStringLiteral("\"slow\": the expression went over its match limit")), 1);
}

QTEST_GUILESS_MAIN(TestServeFairness)
#include "tst_serve_fairness.moc"

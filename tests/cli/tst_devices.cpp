// A stand-in of a few rules against device clients nobody here wrote: mbpoll and pymodbus for a
// Modbus TCP device with registers, coap-client for CoAP. Each client is skipped when missing.
#include "clisupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

const QByteArray kRules = R"(
[state]
reg = [42, 43]

[[rule]]
name = "read"
proto = "tcp"
match = '{tid:2} 00 00 {size:2} {unit:1} 03 {addr:2} {count:2}'
reply = '{tid} 00 00 {len:2}( {unit} 03 {count * 2:1} {repeat count}( {state.reg[addr + index]:2} ) )'

[[rule]]
name = "write"
proto = "tcp"
match = '{tid:2} 00 00 {size:2} {unit:1} 06 {addr:2} {value:2}'
set = 'reg[addr] = value'
reply = '{echo}'

[[rule]]
name = "write-many"
proto = "tcp"
match = '{tid:2} 00 00 {size:2} {unit:1} 10 {addr:2} {count:2} {bytes:1} {values:bytes}'
set = 'repeat count: reg[addr + index] = values[2 * index] << 8 | values[2 * index + 1]'
reply = '{tid} 00 00 00 06 {unit} 10 {addr} {count}'

[[rule]]
name = "unknown-function"
proto = "tcp"
match = '{tid:2} 00 00 {size:2} {unit:1} {fc:1} {rest:size - 2}'
reply = '{tid} 00 00 00 03 {unit} {fc | 0x80:1} 01'

[[rule]]
name = "coap-get"
proto = "udp"
match = '{1:2b} {type:2b} {tkl:4b} 01 {mid:2} {token:tkl} *'
reply = '{0x60 | tkl:1} 45 {mid} {token} FF "hello from peertest"'
)";

const char* kPymodbus = R"(
import sys
from pymodbus.client import ModbusTcpClient
c = ModbusTcpClient("127.0.0.1", port=int(sys.argv[1]))
c.connect()
print(len(c.read_holding_registers(200, 125).registers))
c.write_register(200, 4660)
print(c.read_holding_registers(199, 3).registers)
e = c.read_coils(0, 1)
print(e.isError(), e.function_code, e.exception_code)
)";

struct Run {
    int status = -1;
    QString out;
};

Run RunTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(15000))
        process.kill();
    process.waitForFinished(1000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

// mbpoll prints each register as "[N]: \tVALUE".
QStringList Registers(const QString& out)
{
    static const QRegularExpression line(QStringLiteral("\\[\\d+\\]:\\s+(-?\\d+)"));
    QStringList values;
    for (auto it = line.globalMatch(out); it.hasNext();)
        values << it.next().captured(1);
    return values;
}

} // namespace

class TestDevices : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void mbpollReadsAndWrites_data();
    void mbpollReadsAndWrites();
    void pymodbusWritesAndReadsBack();
    void coapClientGetsItsAnswer();
    void cleanupTestCase();

private:
    QStringList Mbpoll(const QStringList& options, const QStringList& values) const;

    QTemporaryDir dir_;
    QProcess serve_;
    QString tcpPort_;
    QString udpPort_;
};

void TestDevices::initTestCase()
{
    QFile rules(dir_.filePath(QStringLiteral("device.toml")));
    QVERIFY(rules.open(QIODevice::WriteOnly) && rules.write(kRules) == kRules.size());
    rules.close();
    static const QRegularExpression ports(
        QStringLiteral("tcp \\[::\\]:(\\d+) listening\\n.* udp \\[::\\]:(\\d+) bound"));
    QString out;
    const QRegularExpressionMatch match = StartServe(
        serve_,
        {rules.fileName(), QStringLiteral("--tcp"), QStringLiteral("0"), QStringLiteral("--udp"),
         QStringLiteral("0"), QStringLiteral("--log"), dir_.path()},
        ports, out);
    QVERIFY2(match.hasMatch(), qPrintable(out));
    tcpPort_ = match.captured(1);
    udpPort_ = match.captured(2);
}

// Options first, then the host, then any values to write.
QStringList TestDevices::Mbpoll(const QStringList& options, const QStringList& values) const
{
    return QStringList{QStringLiteral("-m"),
                       QStringLiteral("tcp"),
                       QStringLiteral("-a"),
                       QStringLiteral("1"),
                       QStringLiteral("-1"),
                       QStringLiteral("-p"),
                       tcpPort_}
           << options << QStringLiteral("127.0.0.1") << values;
}

// Rows run in order against one stand-in: what a row writes, a later one reads.
void TestDevices::mbpollReadsAndWrites_data()
{
    QTest::addColumn<QStringList>("arguments"); // options, then "=" and values to write
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("registers"); // the first ones shown
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("message");
    QTest::newRow("read 1") << QStringList{"-t", "4", "-r", "1", "-c", "1"} << 0
                            << QStringList{"42"} << 1 << "";
    QTest::newRow("read 2") << QStringList{"-t", "4", "-r", "1", "-c", "2"} << 0
                            << QStringList{"42", "43"} << 2 << "";
    QTest::newRow("write 1") << QStringList{"-t", "4", "-r", "2", "=", "7"} << 0 << QStringList{}
                             << 0 << "Written 1 references";
    QTest::newRow("write 10") << QStringList{"-t", "4",  "-r", "9",  "=",  "90", "91", "92",
                                             "93", "94", "95", "96", "97", "98", "99"}
                              << 0 << QStringList{} << 0 << "Written 10 references";
    QTest::newRow("read 10 back") << QStringList{"-t", "4", "-r", "8", "-c", "10"} << 0
                                  << QStringList{"0", "90", "91", "92"} << 10 << "";
    QTest::newRow("read 125") << QStringList{"-t", "4", "-r", "1", "-c", "125"} << 0
                              << QStringList{"42", "7", "0"} << 125 << "";
    QTest::newRow("unknown function: input registers")
        << QStringList{"-t", "3", "-r", "1", "-c", "2"} << 1 << QStringList{} << 0
        << "Illegal function";
}

void TestDevices::mbpollReadsAndWrites()
{
    const QString mbpoll = QStandardPaths::findExecutable(QStringLiteral("mbpoll"));
    if (mbpoll.isEmpty())
        QSKIP("mbpoll is not installed");
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QStringList, registers);
    QFETCH(int, shown);
    QFETCH(QString, message);
    const qsizetype split = arguments.indexOf(QStringLiteral("="));
    const Run run = RunTool(mbpoll, Mbpoll(arguments.mid(0, split < 0 ? arguments.size() : split),
                                           split < 0 ? QStringList{} : arguments.mid(split + 1)));
    QVERIFY2(run.status == status, qPrintable(run.out));
    const QStringList values = Registers(run.out);
    QCOMPARE(values.size(), shown);
    QCOMPARE(values.mid(0, registers.size()), registers);
    QVERIFY2(run.out.contains(message), qPrintable(run.out));
}

void TestDevices::pymodbusWritesAndReadsBack()
{
    const Run probe = RunTool(QStringLiteral("/usr/bin/python3"),
                              {QStringLiteral("-c"), QStringLiteral("import pymodbus")});
    if (probe.status != 0)
        QSKIP("python3-pymodbus is not installed");
    const Run run = RunTool(QStringLiteral("/usr/bin/python3"),
                            {QStringLiteral("-c"), QString::fromLatin1(kPymodbus), tcpPort_});
    QCOMPARE(run.out.trimmed(), QStringLiteral("125\n[0, 4660, 0]\nTrue 129 1"));
}

void TestDevices::coapClientGetsItsAnswer()
{
    const QString client = QStandardPaths::findExecutable(QStringLiteral("coap-client-notls"));
    if (client.isEmpty())
        QSKIP("coap-client (libcoap3-bin) is not installed");
    const QString uri = QStringLiteral("coap://127.0.0.1:%1/hello").arg(udpPort_);
    for (const QString& token : {QStringLiteral("7"), QStringLiteral("cafe0123")}) {
        const Run get =
            RunTool(client, {QStringLiteral("-m"), QStringLiteral("get"), QStringLiteral("-T"),
                             token, QStringLiteral("-B"), QStringLiteral("5"), uri});
        QCOMPARE(get.out.trimmed(), QStringLiteral("hello from peertest"));
    }
    // A PUT (code 0.03) matches no rule: no answer at all.
    const Run put =
        RunTool(client, {QStringLiteral("-m"), QStringLiteral("put"), QStringLiteral("-e"),
                         QStringLiteral("x"), QStringLiteral("-B"), QStringLiteral("1"), uri});
    QVERIFY2(!put.out.contains(QStringLiteral("hello")), qPrintable(put.out));
}

// The hit counts close the run, with the registers the clients left behind.
void TestDevices::cleanupTestCase()
{
    ::kill(pid_t(serve_.processId()), SIGTERM);
    QVERIFY(serve_.waitForFinished(10000));
    const QString out = QString::fromUtf8(serve_.readAllStandardOutput());
    if (QStandardPaths::findExecutable(QStringLiteral("mbpoll")).isEmpty())
        return;
    QVERIFY2(out.contains(QRegularExpression(
                 QStringLiteral("RULES: read \\d+, write \\d+, write-many \\d+, "
                                "unknown-function \\d+, coap-get \\d+, \\(none\\) \\d+; state: "
                                "reg\\[0\\]=42, reg\\[1\\]=7, reg\\[8\\]=90"))),
             qPrintable(out.right(400)));
}

QTEST_GUILESS_MAIN(TestDevices)
#include "tst_devices.moc"

// The program as a process: a port on the command line or in the environment opens the receiver
// headless, and the day file records what happened.
#include "support/peers.h"
#include "support/processports.h"
#include "support/programrun.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The listener opens on the window's first show, a moment after the start line.
bool ConnectWhenListening(QTcpSocket& peer, quint16 port)
{
    return QTest::qWaitFor(
        [&] {
            if (peer.state() == QAbstractSocket::UnconnectedState)
                peer.connectToHost(QHostAddress::LocalHost, port);
            return peer.waitForConnected(200);
        },
        10000);
}

// A peer that connects, sends `bytes`, and leaves once the program has logged them.
bool Visit(ProgramRun& run, quint16 port, const QByteArray& bytes)
{
    const qsizetype before = run.dayFileLines().size();
    QTcpSocket peer;
    if (!ConnectWhenListening(peer, port))
        return false;
    peer.write(bytes);
    // The request line and the arrival.
    if (!QTest::qWaitFor([&] { return run.dayFileLines().size() >= before + 2; }, 10000))
        return false;
    peer.disconnectFromHost();
    return QTest::qWaitFor([&] { return run.dayFileLines().size() >= before + 3; }, 10000);
}

// The program cannot share a UDP port nor be asked for any, so the port it is given is one the
// system chose for a socket of the test's own, let go just before the program starts. Nothing is
// sent there before the program is seen holding it (below), so nobody else can get the bytes.
quint16 UdpPortToHandOver()
{
    QUdpSocket chooser;
    chooser.bind(QHostAddress::Any, 0);
    return chooser.localPort();
}

// Nothing shows when a UDP port is bound, so the datagram goes again until the day file holds
// more than the start line.
bool SendUntilLogged(ProgramRun& run, quint16 port, const QByteArray& bytes)
{
    UdpPeer sender;
    for (int attempt = 0; attempt < 50; ++attempt) {
        sender.sendTo(port, bytes);
        if (QTest::qWaitFor([&] { return run.dayFileLines().size() >= 2; }, 200))
            return true;
    }
    return false;
}

bool IsRequestLine(const QString& line)
{
    static const QRegularExpression request(QStringLiteral("^TCP/IP:requestID:[1-9][0-9]*$"));
    return request.match(LoggedMessage(line)).hasMatch();
}

// One of many peers that come back to back: connects (trying again while the system refuses it
// because the receiver serves another), sends its bytes and closes in an orderly way, without
// waiting for the program. True once its bytes went out on an established connection.
bool ConnectSendClose(quint16 port, const QByteArray& bytes, const QDeadlineTimer& deadline)
{
    while (!deadline.hasExpired()) {
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        if (peer.waitForConnected(5000)) {
            peer.write(bytes);
            peer.disconnectFromHost();
            return peer.state() == QAbstractSocket::UnconnectedState ||
                   peer.waitForDisconnected(5000);
        }
        QThread::msleep(2);
    }
    return false;
}

// What a systemd user unit starts: its Environment= settings and its ExecStart= words, with the
// instance (%i) and the home folder (%h) put in.
struct UnitCommand {
    QList<QPair<QString, QString>> environment;
    QStringList command;
};

UnitCommand ReadUnit(const QString& path, const QString& instance, const QString& home)
{
    QFile file(path);
    UnitCommand unit;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return unit;
    for (QString line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        line.replace(QStringLiteral("%i"), instance).replace(QStringLiteral("%h"), home);
        if (line.startsWith(QStringLiteral("Environment="))) {
            const QString setting = line.mid(12);
            unit.environment.append(
                {setting.section(QLatin1Char('='), 0, 0), setting.section(QLatin1Char('='), 1)});
        } else if (line.startsWith(QStringLiteral("ExecStart="))) {
            unit.command = line.mid(10).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        }
    }
    return unit;
}

qsizetype CountLogged(const QStringList& lines, const QString& message)
{
    return std::count_if(lines.cbegin(), lines.cend(),
                         [&](const QString& line) { return IsLoggedActivity(line, message); });
}

int ThreadsOf(qint64 pid)
{
    return int(QDir(QStringLiteral("/proc/%1/task").arg(pid))
                   .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                   .size());
}

} // namespace

class TestProcessReceiver : public QObject {
    Q_OBJECT
private slots:
    void listensFromTheCommandLineAndLogsArrivals();
    void environmentOpensUdpReceiverAndPlacesLog();
    void backToBackPeersAreEachServedInTurn();
    void unattendedReceiverThatCannotOpenEndsTheRun_data();
    void unattendedReceiverThatCannotOpenEndsTheRun();
    void unattendedLoggerWithNothingToLogEndsTheRun_data();
    void unattendedLoggerWithNothingToLogEndsTheRun();
    void systemdUnitLogsItsPort_data();
    void systemdUnitLogsItsPort();
};

void TestProcessReceiver::listensFromTheCommandLineAndLogsArrivals()
{
    const HeldTcpPort held;
    const quint16 port = held.port();
    ProgramRun run;
    QVERIFY(run.start({QString::number(port)}));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY(Visit(run, port, "\x41\x0D\x0A"));
    // Listening again after the first peer left: the next one is accepted.
    QVERIFY(Visit(run, port, QByteArray("\x00\xFF", 2)));
    QVERIFY(run.stop());

    const QStringList lines = run.dayFileLines();
    QCOMPARE(lines.size(), 8);
    QVERIFY(IsLogLine(lines.at(0), QStringLiteral("Start Tidewell－テスト")));
    QVERIFY2(IsRequestLine(lines.at(1)), qPrintable(lines.at(1)));
    QVERIFY(IsLoggedActivity(lines.at(2), QStringLiteral("RCV[410D0A]")));
    QVERIFY(IsLoggedActivity(lines.at(3), QStringLiteral("Socket2 Close.")));
    QVERIFY2(IsRequestLine(lines.at(4)), qPrintable(lines.at(4)));
    QVERIFY(LoggedMessage(lines.at(4)) != LoggedMessage(lines.at(1)));
    QVERIFY(IsLoggedActivity(lines.at(5), QStringLiteral("RCV[00FF]")));
    QVERIFY(IsLoggedActivity(lines.at(6), QStringLiteral("Socket2 Close.")));
    QVERIFY(IsLogLine(lines.at(7), QStringLiteral("End Tidewell－テスト")));
}

// UDP mode, where the command line cannot open the receiver: the environment's port does, and
// the environment's log folder, made on the spot, takes every line and is named once on stderr.
void TestProcessReceiver::environmentOpensUdpReceiverAndPlacesLog()
{
    const quint16 port = UdpPortToHandOver();
    QTemporaryDir scratch;
    const QString logFolder = scratch.filePath(QStringLiteral("not/yet/made"));
    ProgramRun run;
    run.logIn(logFolder);
    run.setEnvironment(QStringLiteral("PEERTEST_RECEIVER_PORT"), QString::number(port));
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    QVERIFY(run.start({QStringLiteral("udp")}));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY2(QTest::qWaitFor([&] { return HoldsUdpPort(run.process().processId(), port); }, 10000),
             qPrintable(QStringLiteral("the program never bound UDP port %1").arg(port)));
    QVERIFY(SendUntilLogged(run, port, "\x41\x0D\x0A"));
    // Nobody sees it, so there is no window: no platform to draw on is loaded, no thread is
    // started beside the program's one.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(run.process().processId()));
    QVERIFY(maps.open(QIODevice::ReadOnly));
    QVERIFY(!maps.readAll().contains("/platforms/libq"));
    QCOMPARE(ThreadsOf(run.process().processId()), 1);
    QVERIFY(run.stop());

    const QStringList lines = run.dayFileLines();
    QVERIFY(IsLogLine(lines.constFirst(), QStringLiteral("Start Marrowby－テスト")));
    QVERIFY(IsLogLine(lines.constLast(), QStringLiteral("End Marrowby－テスト")));
    QVERIFY(lines.size() >= 3);
    for (qsizetype i = 1; i < lines.size() - 1; ++i)
        QVERIFY2(IsLoggedActivity(lines.at(i), QStringLiteral("RCV[410D0A]")),
                 qPrintable(lines.at(i)));
    QCOMPARE(QDir(run.folder()).entryList(QDir::Files), QStringList{QStringLiteral("peertest")});
    const QString errors = QString::fromLocal8Bit(run.process().readAllStandardError());
    QCOMPARE(errors.split(QLatin1Char('\n')).filter(QStringLiteral("log folder")),
             QStringList{QStringLiteral("peertest: log folder: ") + logFolder});
}

void TestProcessReceiver::backToBackPeersAreEachServedInTurn()
{
    constexpr int kPeers = 100;
    const HeldTcpPort held;
    const quint16 port = held.port();
    ProgramRun run;
    QVERIFY(run.start({QString::number(port)}));
    QVERIFY(run.waitUntilLoaded());
    const QDeadlineTimer deadline(60000);
    QList<QByteArray> sent;
    for (int i = 0; i < kPeers; ++i) {
        sent << QByteArray("peer") + QByteArray::number(i).rightJustified(4, '0');
        QVERIFY2(ConnectSendClose(port, sent.constLast(), deadline), qPrintable(sent.constLast()));
    }
    // Bounded; a peer missing then shows below as the first line out of place.
    const QString close = QStringLiteral("Socket2 Close.");
    static_cast<void>(
        QTest::qWaitFor([&] { return CountLogged(run.dayFileLines(), close) >= kPeers; },
                        int(qMax<qint64>(deadline.remainingTime(), 1))));
    QVERIFY(run.stop());

    // After the start line: request, arrival and close of each peer in the order they came.
    const QStringList lines = run.dayFileLines();
    qint64 previousId = 0;
    for (int i = 0; i < kPeers; ++i) {
        const QString request = lines.value(1 + 3 * i);
        const qint64 id = LoggedMessage(request).section(QLatin1Char(':'), 2).toLongLong();
        QVERIFY2(IsRequestLine(request) && id > previousId, qPrintable(request));
        previousId = id;
        const QString arrival =
            QStringLiteral("RCV[%1]").arg(QString(sent.at(i).toHex().toUpper()));
        QVERIFY2(IsLoggedActivity(lines.value(2 + 3 * i), arrival), qPrintable(arrival));
        QVERIFY2(IsLoggedActivity(lines.value(3 + 3 * i), close), qPrintable(sent.at(i)));
    }
    QCOMPARE(lines.size(), 3 * kPeers + 2);
}

void TestProcessReceiver::unattendedReceiverThatCannotOpenEndsTheRun_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<bool>("taken"); // otherwise a port beyond 65535
    QTest::newRow("TCP, port taken") << false << true;
    QTest::newRow("UDP, port taken") << true << true;
    QTest::newRow("TCP, port 70000") << false << false;
    QTest::newRow("UDP, port 70000") << true << false;
}

// Headless, nobody would ever see the error line: it goes to stderr too, the run ends with the
// end line and a status a service manager acts on.
void TestProcessReceiver::unattendedReceiverThatCannotOpenEndsTheRun()
{
    QFETCH(bool, udp);
    QFETCH(bool, taken);
    QTcpServer tcpHolder;
    QUdpSocket udpHolder;
    QString port = QStringLiteral("70000");
    if (taken && udp) {
        QVERIFY(udpHolder.bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
        port = QString::number(udpHolder.localPort());
    } else if (taken) {
        QVERIFY(tcpHolder.listen(QHostAddress::Any, 0));
        port = QString::number(tcpHolder.serverPort());
    }
    ProgramRun run;
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    if (udp)
        run.setEnvironment(QStringLiteral("PEERTEST_RECEIVER_PORT"), port);
    QVERIFY(run.start({udp ? QStringLiteral("udp") : port}));
    QVERIFY(run.process().waitForFinished(10000));

    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 1);
    const QStringList told = QString::fromLocal8Bit(run.process().readAllStandardError())
                                 .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                 .filter(QRegularExpression(QStringLiteral("^peertest: \\d\\d-")));
    QCOMPARE(told.size(), 1);
    const QStringList lines = run.dayFileLines();
    QCOMPARE(lines.size(), 3);
    QVERIFY2(LoggedMessage(lines.at(1)).startsWith(QStringLiteral("Err:")),
             qPrintable(lines.at(1)));
    QCOMPARE(told.constFirst().mid(10 + 20), LoggedMessage(lines.at(1)));
    QVERIFY2(lines.at(2).mid(20).startsWith(QStringLiteral("End ")), qPrintable(lines.at(2)));
}

void TestProcessReceiver::unattendedLoggerWithNothingToLogEndsTheRun_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("portSetting");
    QTest::addColumn<bool>("logFolderIsAFile");
    QTest::addColumn<QString>("told");
    const QString noPort = QStringLiteral("no receiver port");
    QTest::newRow("no port at all") << QStringList{} << QString() << false << noPort;
    QTest::newRow("port 0 on the command line") << QStringList{"0"} << QString() << false << noPort;
    QTest::newRow("port setting not a number") << QStringList{"udp"} << "abc" << false << noPort;
    QTest::newRow("port setting negative") << QStringList{"udp"} << "-1" << false << noPort;
    QTest::newRow("log folder is a file") << QStringList{} << "50000" << true << "Log Err: ";
}

// Headless, a logger that can log nothing, or has nowhere to listen, does not run on as if it
// logged: it says why and ends with status 1, the end line written where it can be.
void TestProcessReceiver::unattendedLoggerWithNothingToLogEndsTheRun()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, portSetting);
    QFETCH(bool, logFolderIsAFile);
    QFETCH(QString, told);
    ProgramRun run;
    run.process().setProcessChannelMode(QProcess::SeparateChannels);
    if (!portSetting.isEmpty())
        run.setEnvironment(QStringLiteral("PEERTEST_RECEIVER_PORT"), portSetting);
    const QString notAFolder = run.folder() + QStringLiteral("/file");
    if (logFolderIsAFile) {
        QFile file(notAFolder);
        QVERIFY(file.open(QIODevice::WriteOnly));
        run.logIn(notAFolder);
    }
    QVERIFY(run.start(arguments));
    QVERIFY(run.process().waitForFinished(10000));

    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(run.process().exitCode(), 1);
    const QString errors = QString::fromLocal8Bit(run.process().readAllStandardError());
    QVERIFY2(errors.contains(told), qPrintable(errors));
    if (logFolderIsAFile)
        return;
    const QStringList lines = run.dayFileLines();
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(1).mid(20).startsWith(QStringLiteral("End ")), qPrintable(lines.at(1)));
}

void TestProcessReceiver::systemdUnitLogsItsPort_data()
{
    QTest::addColumn<bool>("udp");
    QTest::newRow("peertest-udp@") << true;
    QTest::newRow("peertest-tcp@") << false;
}

// What the unit starts, started here with the built program: headless with no display at hand,
// logging an arrival in the home folder's data folder.
void TestProcessReceiver::systemdUnitLogsItsPort()
{
    QFETCH(bool, udp);
    const HeldTcpPort held;
    const quint16 port = udp ? UdpPortToHandOver() : held.port();
    QTemporaryDir home;
    const QString unitFile = QStringLiteral(PEERTEST_UNIT_FOLDER "/%1.service")
                                 .arg(QString::fromLatin1(QTest::currentDataTag()));
    const UnitCommand unit = ReadUnit(unitFile, QString::number(port), home.path());
    QVERIFY2(unit.command.size() >= 1 && unit.command.constFirst().endsWith("/peertest"),
             qPrintable(unitFile));

    ProgramRun run;
    run.logIn(home.filePath(QStringLiteral(".local/share/peertest")));
    QProcessEnvironment environment = run.process().processEnvironment();
    for (const char* name :
         {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "PEERTEST_LOG_DIR", "XDG_DATA_HOME"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home.path());
    for (const auto& [name, value] : unit.environment)
        environment.insert(name, value);
    run.process().setProcessEnvironment(environment);
    QVERIFY(run.start(unit.command.mid(1)));
    QVERIFY(run.waitUntilLoaded());
    QVERIFY(udp ? SendUntilLogged(run, port, "\x41\x0D\x0A") : Visit(run, port, "\x41\x0D\x0A"));
    QVERIFY(run.stop());

    const QStringList lines = run.dayFileLines();
    QVERIFY(IsLogLine(lines.constFirst(), udp ? QStringLiteral("Start Marrowby－テスト")
                                              : QStringLiteral("Start Tidewell－テスト")));
    QVERIFY2(CountLogged(lines, QStringLiteral("RCV[410D0A]")) >= 1, qPrintable(lines.join('\n')));
}

QTEST_MAIN(TestProcessReceiver)
#include "tst_process_receiver.moc"

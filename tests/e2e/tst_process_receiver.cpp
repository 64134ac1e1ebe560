// The program as a process: a port on the command line opens the receiver headless, and the day
// file next to the executable records what happened.
#include "support/programrun.h"
#include "support/peers.h"

#include <QTcpSocket>
#include <QtTest>

class TestProcessReceiver : public QObject {
    Q_OBJECT
private slots:
    void listensFromTheCommandLineAndLogsArrivals();
};

void TestProcessReceiver::listensFromTheCommandLineAndLogsArrivals()
{
    const quint16 port = FreePort();
    ProgramRun run;
    QVERIFY(run.start({QString::number(port)}));
    QVERIFY(run.waitUntilLoaded());

    QTcpSocket peer;
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            if (peer.state() == QAbstractSocket::UnconnectedState)
                peer.connectToHost(QHostAddress::LocalHost, port);
            return peer.waitForConnected(200);
        }(),
        10000);
    peer.write("\x41\x0D\x0A");
    QTRY_VERIFY_WITH_TIMEOUT(run.dayFileLines().size() >= 3, 10000);
    peer.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(run.dayFileLines().size() >= 4, 10000);
    QVERIFY(run.stop());

    const QStringList lines = run.dayFileLines();
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(0).mid(20), QStringLiteral("Start Tidewell－テスト"));
    QVERIFY2(LoggedMessage(lines.at(1)).startsWith(QStringLiteral("TCP/IP:requestID:")),
             qPrintable(lines.at(1)));
    QVERIFY(IsLoggedActivity(lines.at(2), QStringLiteral("RCV[410D0A]")));
    QVERIFY(IsLoggedActivity(lines.at(3), QStringLiteral("Socket2 Close.")));
    QCOMPARE(lines.at(4).mid(20), QStringLiteral("End Tidewell－テスト"));
}

QTEST_MAIN(TestProcessReceiver)
#include "tst_process_receiver.moc"

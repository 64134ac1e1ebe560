// The log as the window keeps it: a log that cannot be written is told and every line still
// shown, a peer's bytes cannot forge log lines, and a window closed while a send waits leaves
// nothing hanging and unloads once.
#include "net/clientlink.h"
#include "net/receiver.h"
#include "support/peers.h"
#include "support/windowfixture.h"
#include <QDir>

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <cstring>

class TestUnloadAndLog : public QObject {
    Q_OBJECT
private slots:
    void unwritableLog_data();
    void unwritableLog();
    void peerCannotForgeLogLines();
    void closedWhileTheSendButtonWaits_data();
    void closedWhileTheSendButtonWaits();
};

void TestUnloadAndLog::unwritableLog_data()
{
    QTest::addColumn<bool>("folderMissing"); // otherwise the day file is a link to /dev/full
    QTest::addColumn<QString>("reason");
    QTest::newRow("program folder missing")
        << true << QString::fromLocal8Bit(std::strerror(ENOENT));
    QTest::newRow("day file is a link") << false << QStringLiteral("Not a regular file");
}

// The client's list tells why the start line was lost; after that the run of failures goes on
// untold, and every line is still shown.
void TestUnloadAndLog::unwritableLog()
{
    QFETCH(bool, folderMissing);
    QFETCH(QString, reason);
    QString dayFile;
    WindowFixture f(QString(), [&](LogSandbox& sandbox) {
        if (folderMissing) {
            QDir(sandbox.folder()).removeRecursively();
            dayFile = sandbox.path(QStringLiteral("24.LOG"));
        } else {
            dayFile = sandbox.path(QStringLiteral("24.LOG"));
            QFile::link(QStringLiteral("/dev/full"), dayFile);
        }
    });
    ClientLink& client = f.window->Client();
    f.ui().txtIP->setText(QStringLiteral("127.0.0.1"));
    const HeldTcpPort refusing;
    f.ui().txtPortNo->setText(QString::number(refusing.port()));
    client.cmdOneShot_Click();
    f.ticks(5);
    QTRY_COMPARE(f.list1().size(), 3);
    QCOMPARE(f.list1().at(0), "Log Err: " + reason + " (" + dayFile + ")");
    QCOMPARE(f.list1().at(2), QStringLiteral("Error Event Occured."));
    f.ui().txtRCVPORTSEND->setText(QStringLiteral("hello"));
    f.ui().cmdRcvPortSend->click();
    QCOMPARE(f.list2().size(), 2);
    QCOMPARE(f.list2().at(0), QStringLiteral("Send Command:[hello]"));

    f.window->close();
    QCOMPARE(f.endCalls, 1);
    if (folderMissing)
        QVERIFY(!QFileInfo::exists(QFileInfo(dayFile).path()));
    else
        QCOMPARE(QFileInfo(dayFile).symLinkTarget(), QStringLiteral("/dev/full"));
}

// In characters, a peer's CR LF could end the line in the day file and start one of its own
// making; the file holds it as "<0D><0A>" inside the one line of that arrival.
void TestUnloadAndLog::peerCannotForgeLogLines()
{
    WindowFixture f;
    f.ui().Option2->setChecked(true);
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, f.openReceiver());
    QTRY_COMPARE(f.list2().size(), 1);
    const QByteArray forged = "01-01-2020 00:00:00 01-01-2020 00:00:00 Socket2 Close.";
    peer.write("A]\r\n" + forged + "\r\n");
    QTRY_COMPARE(f.list2().size(), 2);
    QCOMPARE(f.list2().at(1), "RCV[A]\r\n" + forged + "\r\n]");
    f.window->close();

    const QStringList logged = f.sandbox.lines(QStringLiteral("24.LOG"));
    const QString stamp = QStringLiteral("07-24-2018 13:05:09 ");
    QVERIFY(logged.contains(stamp + stamp + "RCV[A]<0D><0A>" + forged + "<0D><0A>]"));
    for (const QString& line : logged)
        QVERIFY2(line.startsWith(stamp), qPrintable(line));
}

void TestUnloadAndLog::closedWhileTheSendButtonWaits_data()
{
    QTest::addColumn<bool>("quitButton");
    QTest::newRow("close box") << false;
    QTest::newRow("quit button") << true;
}

void TestUnloadAndLog::closedWhileTheSendButtonWaits()
{
    QFETCH(bool, quitButton);
    TcpPeer peer;
    WindowFixture f;
    frmUDP& window = *f.window;
    const WindowControls ui(window);
    window.show();
    QVERIFY(f.connectClient(peer.port()));
    f.openReceiver();
    QVERIFY(window.Winsock2().State() != Winsock::sckClosed);

    // A completion still owed keeps the press waiting; the window is closed meanwhile. Only
    // because the end of the program is counted here, the link dropping lets the press go on.
    SideSocket side;
    window.DoSendEtherHex(side.socket, QStringLiteral("41"));
    QTimer::singleShot(20, &window, [&] {
        if (quitButton)
            ui.cmdEnd->click();
        else
            window.close();
    });
    QTimer::singleShot(100, &peer, [&] { peer.closeConnection(); });
    ui.cmdOneShot->click();

    QCOMPARE(f.endCalls, 1);
    QCOMPARE(window.Winsock2().State(), int(Winsock::sckClosed));
    const QStringList logged = f.sandbox.lines(QStringLiteral("24.LOG"));
    QCOMPARE(logged.constLast().mid(20), QStringLiteral("End Tidewell－テスト"));
}

QTEST_MAIN(TestUnloadAndLog)
#include "tst_unloadandlog.moc"

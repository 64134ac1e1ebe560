// A log that cannot be written, and a window closed while a send waits: the lists stay complete,
// nothing hangs, and the unload runs once.
#include "log/programfolder.h"
#include "net/clientlink.h"
#include "net/receiver.h"
#include "support/peers.h"
#include "support/windowfixture.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class TestUnloadAndLog : public QObject {
    Q_OBJECT
private slots:
    void unwritableLog_data();
    void unwritableLog();
    void closedWhileTheSendButtonWaits_data();
    void closedWhileTheSendButtonWaits();
};

void TestUnloadAndLog::unwritableLog_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("program folder missing") << false;
    QTest::newRow("log files on a full disk") << true;
}

void TestUnloadAndLog::unwritableLog()
{
    QFETCH(bool, diskFull);
    if (diskFull && !QFileInfo(QStringLiteral("/dev/full")).isWritable())
        QSKIP("This machine has no writable /dev/full.");
    QString missing;
    WindowFixture f(QString(), [&](LogSandbox& sandbox) {
        if (diskFull) {
            QFile::link(QStringLiteral("/dev/full"), sandbox.path(QStringLiteral("24.LOG")));
            QFile::link(QStringLiteral("/dev/full"), sandbox.path(sandbox.weekdayFileName()));
        } else {
            missing = sandbox.path(QStringLiteral("missing"));
            SetProgramFolder(missing);
        }
    });
    ClientLink& client = f.window->Client();
    f.window->txtIP->setText(QStringLiteral("127.0.0.1"));
    f.window->txtPortNo->setText(QString::number(FreePort()));
    client.cmdOneShot_Click();
    f.ticks(5);
    QTRY_COMPARE(f.list1().size(), 2);
    QCOMPARE(f.list1().at(1), QStringLiteral("Error Event Occured."));
    f.window->txtRCVPORTSEND->setText(QStringLiteral("hello"));
    f.window->cmdRcvPortSend->click();
    QCOMPARE(f.list2().size(), 2);
    QCOMPARE(f.list2().at(0), QStringLiteral("Send Command:[hello]"));

    f.window->close();
    QCOMPARE(f.endCalls, 1);
    if (diskFull)
        QCOMPARE(QFileInfo(f.sandbox.path(QStringLiteral("24.LOG"))).symLinkTarget(),
                 QStringLiteral("/dev/full"));
    else
        QVERIFY(!QFileInfo::exists(missing));
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
    window.show();
    ClientLink& client = window.Client();
    QVERIFY(f.connectClient(peer.port()));
    f.openReceiver();
    QVERIFY(window.Winsock2().State() != Winsock::sckClosed);

    // A completion still owed keeps the press waiting; the window is closed meanwhile. Only
    // because the end of the program is counted here, the link dropping lets the press go on.
    client.SendDone = 0;
    QTimer::singleShot(20, &window, [&] {
        if (quitButton)
            window.cmdEnd->click();
        else
            window.close();
    });
    QTimer::singleShot(100, &peer, [&] { peer.closeConnection(); });
    window.cmdOneShot->click();

    QCOMPARE(f.endCalls, 1);
    QCOMPARE(window.Winsock2().State(), int(Winsock::sckClosed));
    const QStringList logged = f.sandbox.lines(QStringLiteral("24.LOG"));
    QCOMPARE(logged.constLast().mid(20), QStringLiteral("End Tidewell－テスト"));
}

QTEST_MAIN(TestUnloadAndLog)
#include "tst_unloadandlog.moc"

// One window whose client half talks to its own receiver over loopback, in each mode; the day
// file must hold every line both lists showed, in the order they were shown, between the start
// and end lines.
#include "net/clientlink.h"
#include "support/peers.h"
#include "support/programrun.h"
#include "support/windowfixture.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

namespace {

const QString kPayloadHex = QStringLiteral("30303136574743533232303030303030");

QStringList Items(const ActivityList* list)
{
    QStringList items;
    for (int row = 0; row < list->count(); ++row)
        items << list->text(row);
    return items;
}

// True when `logged` is the lines of both lists merged, each list keeping its own order.
bool IsMergeOf(QStringList logged, QStringList first, QStringList second)
{
    for (const QString& line : logged) {
        if (!first.isEmpty() && line == first.constFirst())
            first.removeFirst();
        else if (!second.isEmpty() && line == second.constFirst())
            second.removeFirst();
        else
            return false;
    }
    return first.isEmpty() && second.isEmpty();
}

} // namespace

class TestWindowSession : public QObject {
    Q_OBJECT
private slots:
    void clientTalksToOwnReceiver_data();
    void clientTalksToOwnReceiver();
};

void TestWindowSession::clientTalksToOwnReceiver_data()
{
    QTest::addColumn<bool>("udp");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QStringList>("clientLines");
    QTest::addColumn<QStringList>("receiverLines");
    const QString sent = "SND[" + kPayloadHex + "]";
    const QString arrived = "RCV[" + kPayloadHex + "]";
    QTest::newRow("tcp, listener from the command line")
        << false << QStringLiteral("Tidewell－テスト")
        << QStringList{"Connected.", sent, "Sended.", "RCV[pong]"}
        << QStringList{"TCP/IP:requestID:1", arrived, "Send Command:[pong]"};
    QTest::newRow("udp, receiver opened by its button")
        << true << QStringLiteral("Marrowby－テスト") << QStringList{sent, "Sended.", "RCV[pong]"}
        << QStringList{arrived, "Send Command:[pong]"};
}

void TestWindowSession::clientTalksToOwnReceiver()
{
    QFETCH(bool, udp);
    QFETCH(QString, caption);
    QFETCH(QStringList, clientLines);
    QFETCH(QStringList, receiverLines);
    const HeldTcpPort held; // for the command line, which cannot ask for any port
    QString port = QString::number(held.port());
    WindowFixture f(udp ? QStringLiteral("udp") : port);
    frmUDP& w = *f.window;
    const WindowControls ui(w);
    w.show();
    if (udp)
        port = QString::number(f.openReceiver());
    QVERIFY(!ui.cmdRcvOpen->isEnabled());

    ui.txtIP->setText(QStringLiteral("127.0.0.1"));
    ui.txtPortNo->setText(port);
    ui.cmdOneShot->click(); // nothing to send on yet; starts the supervision
    for (int tick = 0; tick < 5; ++tick)
        w.Client().tmrCONNECT_Timer();
    QTRY_COMPARE(w.Client().Variables().Connected, 1);
    ui.cmdOneShot->click();
    QTRY_COMPARE(f.list2().size(), receiverLines.size() - 1);

    // The answer comes back to the client half, shown in characters now.
    ui.Option2->setChecked(true);
    ui.txtRCVPORTSEND->setText(QStringLiteral(" pong "));
    ui.cmdRcvPortSend->click();
    QTRY_COMPARE(f.list1().size(), clientLines.size() + 1);
    clientLines.prepend(QStringLiteral("Start Connect:IP:127.0.0.1 Port#:%1: ").arg(port));
    QCOMPARE(f.list1(), clientLines);
    QCOMPARE(f.list2(), receiverLines);

    const QStringList list1 = Items(ui.List1);
    const QStringList list2 = Items(ui.List2);
    w.close();
    QCOMPARE(f.endCalls, 1);
    const QStringList logged = f.sandbox.lines(QStringLiteral("24.LOG"));
    QCOMPARE(logged.size(), list1.size() + list2.size() + 2);
    QVERIFY(IsLogLine(logged.constFirst(), QStringLiteral("Start ") + caption));
    QVERIFY(IsLogLine(logged.constLast(), QStringLiteral("End ") + caption));
    QStringList activity;
    for (const QString& line : logged.mid(1, logged.size() - 2))
        activity << line.mid(20);
    QVERIFY2(IsMergeOf(activity, list1, list2), qPrintable(activity.join(u'\n')));
}

QTEST_MAIN(TestWindowSession)
#include "tst_window_session.moc"

// Start-up, first activation and shutdown of the main window.
#include "activity/activitylist.h"
#include "app/frmudp.h"
#include "program/commandline.h"
#include "program/endprogram.h"
#include "support/logsandbox.h"
#include "support/windowcontrols.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWindow>
#include <QtTest>

class FrmUdpLifeTest : public QObject {
    Q_OBJECT
    LogSandbox sandbox; // the window logs from the moment it loads
    int endCalls = 0;

private slots:
    void init()
    {
        endCalls = 0;
        SetEndProgram([this] { ++endCalls; });
    }
    void cleanup() { SetEndProgram({}); }

    void modeFromCommandLine_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("udp");
        QTest::addColumn<QString>("caption");
        const QString udp = QStringLiteral("Marrowby－テスト");
        const QString tcp = QStringLiteral("Tidewell－テスト");
        QTest::newRow("lower case") << "udp" << true << udp;
        QTest::newRow("mixed case") << "Udp" << true << udp;
        QTest::newRow("upper case") << "UDP" << true << udp;
        QTest::newRow("with a port") << "UDP 50000" << false << tcp;
        QTest::newRow("empty") << "" << false << tcp;
        QTest::newRow("port only") << "50000" << false << tcp;
        QTest::newRow("leading blank") << " UDP" << false << tcp;
        QTest::newRow("trailing blank") << "UDP " << false << tcp;
    }
    void modeFromCommandLine()
    {
        QFETCH(QString, commandLine);
        QFETCH(bool, udp);
        QFETCH(QString, caption);
        frmUDP window(sandbox.log, commandLine);
        QCOMPARE(window.UdpMode(), udp);
        QCOMPARE(window.windowTitle(), caption);
        QCOMPARE(window.CommandLine(), commandLine);
    }

    void startValues()
    {
        frmUDP window(sandbox.log, QString{});
        const WindowControls ui(window);
        QCOMPARE(ui.Text1->text(), QStringLiteral("30303136574743533232303030303030"));
        QCOMPARE(ui.Text1->selectionStart(), 0);
        QCOMPARE(ui.Text1->selectionLength(), 32);
        QCOMPARE(ui.lblCount->text(), QString());
        QVERIFY(ui.Option1->isChecked());
        QVERIFY(!ui.Option2->isChecked());
        QCOMPARE(ui.List1->count(), 0);
        QCOMPARE(ui.List2->count(), 0);
        QCOMPARE(ui.txtRcvPort->text(), QStringLiteral("50000"));
        QCOMPARE(window.FirstActivate(), 1);
        QCOMPARE(window.pos(), QPoint(0, 0));
        QVERIFY(window.testAttribute(Qt::WA_Moved)); // placed there, not merely never moved

        for (QPushButton* button : window.findChildren<QPushButton*>())
            QVERIFY2(button->isEnabled() == (button != ui.cmdStopCont),
                     qPrintable(button->objectName()));

        QVERIFY(!ui.Timer1->isActive());
        QCOMPARE(ui.Timer1->interval(), 1000);
        QVERIFY(ui.tmrCONNECT->isActive());
        QCOMPARE(ui.tmrCONNECT->interval(), 1000);
        for (QTimer* timer : {ui.Timer1, ui.tmrCONNECT})
            QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    }

    void typedCharacterIsSelected()
    {
        frmUDP window(sandbox.log, QString{});
        const WindowControls ui(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ui.Text1->setFocus();
        // The load selected the payload, so the first key replaces it.
        QTest::keyClicks(ui.Text1, QStringLiteral("A"));
        QCOMPARE(ui.Text1->text(), QStringLiteral("A"));
        QCOMPARE(ui.Text1->selectedText(), QStringLiteral("A"));
        QTest::keyClicks(ui.Text1, QStringLiteral("B"));
        QCOMPARE(ui.Text1->text(), QStringLiteral("B"));
        QCOMPARE(ui.Text1->selectionStart(), 0);
        QCOMPARE(ui.Text1->selectionLength(), 1);
    }

    void pasteReplacesAndSelects()
    {
        frmUDP window(sandbox.log, QString{});
        const WindowControls ui(window);
        const QString payload = QStringLiteral("0102030405");
        QGuiApplication::clipboard()->setText(payload);
        ui.Text1->paste();
        QCOMPARE(ui.Text1->text(), payload);
        QCOMPARE(ui.Text1->selectionStart(), 0);
        QCOMPARE(ui.Text1->selectionLength(), payload.length());
    }

    void emptiedText1HasEmptySelection()
    {
        frmUDP window(sandbox.log, QString{});
        const WindowControls ui(window);
        ui.Text1->clear();
        QCOMPARE(ui.Text1->cursorPosition(), 0);
        QCOMPARE(ui.Text1->selectionLength(), 0);
    }

    void firstActivation_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<QString>("receiverPort");
        QTest::addColumn<int>("opens");
        QTest::addColumn<QString>("rcvPort");
        const QString none;
        QTest::newRow("port") << "50000" << none << 1 << "50000";
        QTest::newRow("port and letter") << "123x" << none << 1 << "123x";
        QTest::newRow("blank inside the number") << "50 001" << none << 1 << "50 001";
        QTest::newRow("zero") << "0" << none << 0 << "50000";
        QTest::newRow("negative") << "-5" << none << 0 << "50000";
        QTest::newRow("letters") << "abc" << none << 0 << "50000";
        QTest::newRow("empty") << "" << none << 0 << "50000";
        QTest::newRow("udp") << "udp" << none << 0 << "50000";
        QTest::newRow("udp and port") << "UDP 50000" << none << 0 << "50000";
        // The start-up port setting counts only when the command line names no port.
        const QString setting = QStringLiteral("50001");
        QTest::newRow("setting, udp") << "udp" << setting << 1 << "50001";
        QTest::newRow("setting, letters") << "abc" << QString("7x") << 1 << "7x";
        QTest::newRow("setting under a port") << "50000" << setting << 1 << "50000";
        QTest::newRow("setting zero") << "udp" << QString("0") << 0 << "50000";
    }
    void firstActivation()
    {
        QFETCH(QString, commandLine);
        QFETCH(QString, receiverPort);
        QFETCH(int, opens);
        QFETCH(QString, rcvPort);
        frmUDP window(sandbox.log, commandLine, receiverPort);
        const WindowControls ui(window);
        QCOMPARE(window.FirstActivate(), 1);
        window.show();
        QCOMPARE(window.FirstActivate(), 0);
        QCOMPARE(ui.txtRcvPort->text(), rcvPort);
        // Opening the receiver locks its button, whether or not the port can be had.
        QCOMPARE(int(!ui.cmdRcvOpen->isEnabled()), opens);
    }

    void laterActivationsChangeNothing()
    {
        frmUDP window(sandbox.log, QStringLiteral("50000"));
        const WindowControls ui(window);
        window.show();
        QVERIFY(!ui.cmdRcvOpen->isEnabled());
        ui.txtRcvPort->setText(QStringLiteral("7"));

        window.hide();
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.Form_Activate();
        // Opening at start puts the port text back before it opens.
        QCOMPARE(ui.txtRcvPort->text(), QStringLiteral("7"));
    }

    void unloadEndsProgramOnce_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("close box") << 0;
        QTest::newRow("quit button") << 1;
        QTest::newRow("quit handler") << 2;
    }
    void unloadEndsProgramOnce()
    {
        QFETCH(int, way);
        frmUDP window(sandbox.log, QString{});
        const WindowControls ui(window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (way == 0)
            window.windowHandle()->close();
        else if (way == 1)
            QTest::mouseClick(ui.cmdEnd, Qt::LeftButton);
        else
            window.cmdEnd_Click();
        QCOMPARE(endCalls, 1);
        QVERIFY(!window.isVisible());
    }

    void commandLineText_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("text");
        QTest::newRow("program only") << QStringList{"peertest"} << "";
        QTest::newRow("one word") << QStringList{"peertest", "UDP"} << "UDP";
        QTest::newRow("two words") << QStringList{"peertest", "UDP", "50000"} << "UDP 50000";
        QTest::newRow("empty argument") << QStringList{"peertest", "", "5"} << " 5";
        QTest::newRow("nothing at all") << QStringList{} << "";
    }
    void commandLineText()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, text);
        QCOMPARE(CommandLineText(arguments), text);
    }
};

QTEST_MAIN(FrmUdpLifeTest)
#include "tst_frmudp.moc"

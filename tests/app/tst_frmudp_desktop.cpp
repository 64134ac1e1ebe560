// The window as an operator's desktop meets it: the keyboard after a press, and a dark theme.
#include "support/peers.h"
#include "support/windowfixture.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

template <typename Control> Control* Find(QWidget* window, const char* name)
{
    auto* control = window->findChild<Control*>(QLatin1String(name));
    if (!control)
        qFatal("no control %s", name);
    return control;
}

int SentLines(const QStringList& messages)
{
    return int(messages.filter(QRegularExpression(QStringLiteral("^SND\\["))).size());
}

void PressSpace()
{
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
}

QString FocusName()
{
    QWidget* focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QStringLiteral("(none)");
}

// The darkest pixel of the control's inner part, where its caption or text is drawn.
int DarkestGrey(const QImage& image, const QRect& area)
{
    int darkest = 255;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            darkest = qMin(darkest, qGray(image.pixel(x, y)));
    return darkest;
}

QRect Inner(const QImage& image)
{
    return image.rect().adjusted(image.width() / 6, image.height() / 5, -image.width() / 6,
                                 -image.height() / 5);
}

bool Near(const QColor& sample, const QColor& expected)
{
    return qAbs(sample.red() - expected.red()) <= 3 &&
           qAbs(sample.green() - expected.green()) <= 3 &&
           qAbs(sample.blue() - expected.blue()) <= 3;
}

// What a dark desktop theme gives: light text on dark faces and black boxes, a dark selection.
QPalette DarkPalette()
{
    return QPalette(QColor(48, 48, 48), QColor(32, 32, 32));
}

} // namespace

class FrmUdpDesktopTest : public QObject {
    Q_OBJECT

private slots:
    // A click, then Space twice: the focus stays on the send button, so three payloads go out
    // and continuous sending never starts.
    void spaceAfterAClickSendsAgain()
    {
        TcpPeer peer;
        WindowFixture fixture;
        frmUDP* window = fixture.window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(fixture.connectClient(peer.port()));
        QTRY_COMPARE_WITH_TIMEOUT(peer.connectionCount(), 1, 5000);

        QTest::mouseClick(Find<QPushButton>(window, "cmdOneShot"), Qt::LeftButton);
        for (int press = 0; press < 2; ++press) {
            QCOMPARE(FocusName(), QStringLiteral("cmdOneShot"));
            PressSpace();
        }
        QTRY_COMPARE_WITH_TIMEOUT(SentLines(fixture.list1()), 3, 5000);
        const QByteArray payload = QByteArray("0016WGCS22000000");
        QTRY_COMPARE_WITH_TIMEOUT(peer.received(), payload + payload + payload, 5000);
        QVERIFY(!Find<QTimer>(window, "Timer1")->isActive());
        QVERIFY(Find<QPushButton>(window, "cmdEnd")->isEnabled());
    }

    // Space starts continuous sending, Space again stops it: each press hands the focus to the
    // button that undoes it.
    void spaceTogglesContinuousSending()
    {
        WindowFixture fixture;
        frmUDP* window = fixture.window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));
        auto* timer = Find<QTimer>(window, "Timer1");
        Find<QPushButton>(window, "cmdCont")->setFocus();
        PressSpace();
        QVERIFY(timer->isActive());
        QCOMPARE(FocusName(), QStringLiteral("cmdStopCont"));
        PressSpace();
        QVERIFY(!timer->isActive());
        QCOMPARE(FocusName(), QStringLiteral("cmdCont"));
    }

    // Drawn under a dark desktop palette, captions stay black on the design's back colours, the
    // list stays white with its blue selection, and a disabled caption is grey.
    void designColoursUnderADarkPalette()
    {
        struct Restore {
            const QPalette desktop = QApplication::palette();
            ~Restore() { QApplication::setPalette(desktop); }
        } restore;
        QApplication::setPalette(DarkPalette());
        WindowFixture fixture;
        frmUDP* window = fixture.window.get();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->AddList1Msg(QStringLiteral("a selected line"));
        QTest::qWait(100); // the list shows its new row at the next frame

        const QImage send = Find<QPushButton>(window, "cmdOneShot")->grab().toImage();
        QVERIFY2(DarkestGrey(send, Inner(send)) < 60, "the send caption is not black");
        const QImage stopped = Find<QPushButton>(window, "cmdStopCont")->grab().toImage();
        const int grey = DarkestGrey(stopped, Inner(stopped));
        QVERIFY2(grey > 90 && grey < 170, qPrintable(QString::number(grey)));
        const QImage label = Find<QLabel>(window, "Label1")->grab().toImage();
        QVERIFY2(DarkestGrey(label, label.rect()) < 60, "the label's text is not black");

        const QImage rows = Find<QWidget>(window, "List1")->grab().toImage();
        const QColor selected = rows.pixelColor(rows.width() - 20, 8);
        QVERIFY2(Near(selected, QColor(0, 120, 215)), qPrintable(selected.name()));
        QVERIFY2(DarkestGrey(rows, QRect(4, 24, rows.width() / 2, rows.height() / 3)) > 200,
                 "the list below its line is not white");
    }
};

QTEST_MAIN(FrmUdpDesktopTest)
#include "tst_frmudp_desktop.moc"

// The window's controls as the operator sees them: texts, tips, fonts, colours, places, order.
#include "app/frmudp.h"
#include "program/endprogram.h"
#include "support/logsandbox.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>
#include <memory>

namespace {

QString Caption(const QWidget* control)
{
    if (auto* box = qobject_cast<const QLineEdit*>(control))
        return box->text();
    if (auto* button = qobject_cast<const QAbstractButton*>(control))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    return qobject_cast<const QGroupBox*>(control)->title();
}

int Pixels(int twips, int dotsPerInch)
{
    return qRound(twips * dotsPerInch / 1440.0);
}

// One row named after the control it checks.
template <typename... Values> void Row(const char* name, const Values&... values)
{
    ((QTest::newRow(name) << QString::fromLatin1(name)) << ... << values);
}

bool Near(const QColor& sample, const QColor& expected)
{
    return qAbs(sample.red() - expected.red()) <= 3 &&
           qAbs(sample.green() - expected.green()) <= 3 &&
           qAbs(sample.blue() - expected.blue()) <= 3;
}

} // namespace

class FrmUdpDesignTest : public QObject {
    Q_OBJECT
    LogSandbox sandbox; // the window logs from the moment it loads
    std::unique_ptr<frmUDP> window;

    QWidget* Control(const QString& name) const
    {
        if (name == window->objectName())
            return window.get();
        auto* control = window->findChild<QWidget*>(name);
        if (!control)
            qFatal("no control %s", qPrintable(name));
        return control;
    }
    QPoint Pixels(const QPoint& twips) const
    {
        return {::Pixels(twips.x(), window->logicalDpiX()),
                ::Pixels(twips.y(), window->logicalDpiY())};
    }

private slots:
    void initTestCase()
    {
        SetEndProgram([] {});
        window = std::make_unique<frmUDP>(sandbox.log, QString{});
    }
    void cleanupTestCase()
    {
        window.reset();
        SetEndProgram({});
    }

    void captions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        Row("txtIP", QStringLiteral("localhost"));
        Row("txtContTime", QStringLiteral("5"));
        Row("cmdCont", QStringLiteral("連続送信"));
        Row("cmdStopCont", QStringLiteral("連続停止"));
        Row("cmdEnd", QStringLiteral("終了"));
        Row("Label1", QStringLiteral("連続間隔(秒)"));
        Row("Frame1", QStringLiteral("受信部"));
        Row("cmdRcvOpen", QStringLiteral("受信OPEN"));
        Row("txtRcvPort", QStringLiteral("50000"));
        Row("txtRCVPORTSEND", QString());
        Row("cmdRcvPortSend", QStringLiteral("送信"));
        Row("Frame2", QString());
        Row("Option1", QStringLiteral("HEX表示"));
        Row("Option2", QStringLiteral("ASCII表示"));
    }
    void captions()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        QCOMPARE(Caption(Control(name)), caption);
    }

    void tooltips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("tip");
        const QString listTip =
            QStringLiteral("起動時パラメータに\"UDP\"指定するとＵＤＰ通信になる。");
        Row("Text1", QStringLiteral("ここのテキストは２桁をHEXとして見なして送信する"));
        Row("txtIP", QStringLiteral("相手のIPアドレス"));
        Row("txtPortNo", QStringLiteral("送信(送受信)用ポートNo"));
        Row("txtRcvPort", QStringLiteral("受信用ポートNo"));
        Row("txtRCVPORTSEND", QStringLiteral("ここのテキストはそのまま送信する"));
        Row("List1", listTip);
        Row("List2", listTip);
        Row("txtContTime", QString());
        Row("cmdOneShot", QString());
    }
    void tooltips()
    {
        QFETCH(QString, name);
        QFETCH(QString, tip);
        QCOMPARE(Control(name)->toolTip(), tip);
    }

    void placement_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("container");
        QTest::addColumn<QRect>("twips");
        Row("txtPortNo", QStringLiteral("frmUDP"), QRect(6120, 0, 855, 330));
        Row("cmdStopCont", QStringLiteral("frmUDP"), QRect(1200, 300, 1215, 375));
        Row("lblCount", QStringLiteral("frmUDP"), QRect(2400, 360, 975, 255));
        Row("List1", QStringLiteral("frmUDP"), QRect(0, 720, 6975, 2010));
        Row("Frame1", QStringLiteral("frmUDP"), QRect(0, 2880, 7095, 3735));
        Row("List2", QStringLiteral("Frame1"), QRect(120, 480, 6855, 2595));
        Row("cmdRcvPortSend", QStringLiteral("Frame1"), QRect(3240, 3360, 855, 350));
        Row("Frame2", QStringLiteral("Frame1"), QRect(4200, 3240, 2775, 375));
        Row("Option1", QStringLiteral("Frame2"), QRect(120, 120, 1095, 180));
        Row("Option2", QStringLiteral("Frame2"), QRect(1320, 120, 1215, 255));
    }
    void placement()
    {
        QFETCH(QString, name);
        QFETCH(QString, container);
        QFETCH(QRect, twips);
        const QWidget* control = Control(name);
        QCOMPARE(control->parentWidget()->objectName(), container);
        const QPoint size = Pixels(QPoint(twips.width(), twips.height()));
        QCOMPARE(control->geometry(), QRect(Pixels(twips.topLeft()), QSize(size.x(), size.y())));
    }

    void clientAreaIsFixed()
    {
        const QSize size(::Pixels(7080, window->logicalDpiX()),
                         ::Pixels(6765, window->logicalDpiY()));
        QCOMPARE(window->size(), size);
        QCOMPARE(window->minimumSize(), size);
        QCOMPARE(window->maximumSize(), size);
    }

    void tabOrder()
    {
        const QStringList expected{"Text1",      "txtIP",      "txtPortNo",      "txtContTime",
                                   "cmdOneShot", "cmdCont",    "cmdStopCont",    "cmdEnd",
                                   "txtRcvPort", "cmdRcvOpen", "txtRCVPORTSEND", "cmdRcvPortSend",
                                   "List1",      "List2",      "Option1",        "Option2"};
        QStringList order;
        QWidget* const first = Control("Text1");
        QWidget* control = first;
        do {
            if (control->focusPolicy() & Qt::TabFocus)
                order << control->objectName();
            control = control->nextInFocusChain();
        } while (control != first);
        QCOMPARE(order, expected);
    }

    void fonts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<double>("points"); // 0: the window's own font
        QTest::addColumn<bool>("bold");
        Row("Text1", 11.25, true);
        Row("cmdRcvPortSend", 11.25, true);
        Row("txtContTime", 11.25, false);
        Row("lblCount", 11.25, false);
        Row("Label1", 9.75, false);
        Row("List2", 9.75, false);
        Row("Frame1", 0.0, false);
        Row("Option2", 0.0, false);
        Row("txtRCVPORTSEND", 0.0, false);
    }
    void fonts()
    {
        QFETCH(QString, name);
        QFETCH(double, points);
        QFETCH(bool, bold);
        const QFont font = Control(name)->font();
        if (points == 0) {
            QCOMPARE(font, window->font());
            return;
        }
        QCOMPARE(font.families().value(0), QStringLiteral("ＭＳ ゴシック"));
        QVERIFY(font.families().contains(QStringLiteral("IPAGothic")));
        QCOMPARE(font.pointSizeF(), points);
        QCOMPARE(font.bold(), bold);
    }

    // Sampled from the rendered controls, so a style that ignores the colours is caught too.
    void backColours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("twips");
        QTest::addColumn<QColor>("colour");
        Row("frmUDP", QPoint(3000, 2800), QColor(128, 255, 255));
        Row("Frame1", QPoint(3000, 350), QColor(128, 255, 255));
        Row("Frame2", QPoint(2650, 190), QColor(192, 255, 255));
    }
    void backColours()
    {
        QFETCH(QString, name);
        QFETCH(QPoint, twips);
        QFETCH(QColor, colour);
        const QImage image = Control(name)->grab().toImage();
        const QColor sample = image.pixelColor(Pixels(twips) * image.devicePixelRatio());
        QVERIFY2(Near(sample, colour), qPrintable(sample.name()));
    }

    // The style shades buttons, so only their hue is compared.
    void buttonColours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("hue");
        Row("cmdOneShot", 120);
        Row("cmdRcvOpen", 60);
        Row("cmdEnd", 30);
    }
    void buttonColours()
    {
        QFETCH(QString, name);
        QFETCH(int, hue);
        const QImage image = Control(name)->grab().toImage();
        const QColor sample = image.pixelColor(image.width() / 10, image.height() / 2);
        QVERIFY2(qAbs(sample.hue() - hue) <= 10 && sample.saturation() > 60,
                 qPrintable(sample.name()));
    }

    void optionsAreOneGroup()
    {
        auto* option1 = qobject_cast<QRadioButton*>(Control("Option1"));
        auto* option2 = qobject_cast<QRadioButton*>(Control("Option2"));
        option2->click();
        QVERIFY(!option1->isChecked());
        option1->click();
        QVERIFY(!option2->isChecked());
    }

    void icon_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("32") << 32;
        QTest::newRow("16") << 16;
    }
    void icon()
    {
        QFETCH(int, size);
        const QIcon icon = window->windowIcon();
        QVERIFY(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = icon.pixmap(QSize(size, size), 1.0).toImage();
        const int third = (size - 2) / 3;
        auto lamp = [&](int i) { return image.pixelColor(size / 2, 1 + i * third + third / 2); };
        const QColor top = lamp(0), middle = lamp(1), bottom = lamp(2);
        QVERIFY2(Near(top, QColor(128, 0, 0)), qPrintable(top.name()));
        QVERIFY2(Near(middle, QColor(255, 255, 0)), qPrintable(middle.name()));
        QVERIFY2(Near(bottom, QColor(0, 128, 0)), qPrintable(bottom.name()));
        const QColor housing = image.pixelColor(size / 4 + 1, size / 2);
        QVERIFY2(Near(housing, QColor(128, 128, 128)), qPrintable(housing.name()));
    }
};

QTEST_MAIN(FrmUdpDesignTest)
#include "tst_frmudp_design.moc"

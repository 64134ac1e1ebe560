// The window's controls with their design-time texts, fonts, colours, positions and tab order.
#include "app/frmudp.h"

#include "activity/activitylist.h"
#include "app/designpalette.h"
#include "app/trafficlight.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <iterator>
#include <limits>

namespace {

const QColor kWindowBack(128, 255, 255);
const QColor kOptionFrameBack(192, 255, 255);
const QColor kSendButtonBack(128, 255, 128);
const QColor kReceiverButtonBack(255, 255, 0);
const QColor kEndButtonBack(255, 128, 0);

const QString kListTip = QStringLiteral("起動時パラメータに\"UDP\"指定するとＵＤＰ通信になる。");

constexpr int kTwipsPerInch = 1440;

// The payload and the reply are sent as typed or pasted, never cut at the line edit's default
// of 32767 characters.
constexpr int kNoLengthLimit = std::numeric_limits<int>::max();

int TwipsToPixels(int twips, int dotsPerInch)
{
    return qRound(double(twips) * dotsPerInch / kTwipsPerInch);
}

// The Japanese Gothic face, then the same face under its other names, then any monospace face.
QFont GothicFont(qreal points, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                      QStringLiteral("IPAGothic"), QStringLiteral("Monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

const QFont& BoldFont()
{
    static const QFont font = GothicFont(11.25, true);
    return font;
}

const QFont& RegularFont()
{
    static const QFont font = GothicFont(11.25, false);
    return font;
}

const QFont& SmallFont()
{
    static const QFont font = GothicFont(9.75, false);
    return font;
}

void Paint(QWidget* control, QPalette::ColorRole role, const QColor& colour)
{
    QPalette palette = control->palette();
    palette.setColor(role, colour);
    control->setPalette(palette);
}

void FillBackground(QWidget* control, const QColor& colour)
{
    Paint(control, QPalette::Window, colour);
    control->setAutoFillBackground(true);
}

// What a screen reader calls each control: its caption, or for a box or list what it holds;
// the description is the caption's English gloss.
struct AccessibleText {
    const char* control;
    const char* name;
    const char* description;
};

const AccessibleText kAccessibleTexts[] = {
    {"Text1", "Payload, hex digits", "Every two digits are sent as one byte"},
    {"txtIP", "Peer host", "The peer's IP address or host name"},
    {"txtPortNo", "Peer port", "Port number for sending (send and receive)"},
    {"txtContTime", "Continuous interval, seconds", ""},
    {"cmdOneShot", "送信", "Send the payload once"},
    {"cmdCont", "連続送信", "Continuous send"},
    {"cmdStopCont", "連続停止", "Stop continuous send"},
    {"cmdEnd", "終了", "Quit"},
    {"lblCount", "Frames sent", ""},
    {"Label1", "連続間隔(秒)", "Continuous interval, seconds"},
    {"List1", "Client activity", ""},
    {"Frame1", "受信部", "Receiving section"},
    {"cmdRcvOpen", "受信OPEN", "Open the receiver"},
    {"txtRcvPort", "Receiving port", "Port number for receiving"},
    {"List2", "Receiver activity", ""},
    {"txtRCVPORTSEND", "Reply text", "Sent as typed"},
    {"cmdRcvPortSend", "送信", "Send the reply"},
    {"Frame2", "Display", ""},
    {"Option1", "HEX表示", "Hex display"},
    {"Option2", "ASCII表示", "ASCII display"},
};

void NameForScreenReaders(QWidget* window)
{
    for (const AccessibleText& text : kAccessibleTexts) {
        auto* control = window->findChild<QWidget*>(QLatin1String(text.control));
        control->setAccessibleName(QString::fromUtf8(text.name));
        control->setAccessibleDescription(QString::fromUtf8(text.description));
    }
}

template <typename Control, typename Parent> Control* NewControl(Parent* parent, const char* name)
{
    auto* control = new Control(parent);
    control->setObjectName(QLatin1String(name));
    return control;
}

QLineEdit* NewTextBox(QWidget* parent, const char* name, const QString& text)
{
    auto* box = NewControl<QLineEdit>(parent, name);
    box->setText(text);
    return box;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption,
                       const QColor& back)
{
    auto* button = NewControl<QPushButton>(parent, name);
    button->setText(caption);
    button->setFont(BoldFont());
    Paint(button, QPalette::Button, back);
    return button;
}

QLabel* NewLabel(QWidget* parent, const char* name, const QString& caption)
{
    auto* label = NewControl<QLabel>(parent, name);
    label->setText(caption);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

ActivityList* NewList(QWidget* parent, const char* name)
{
    auto* list = NewControl<ActivityList>(parent, name);
    list->setFont(SmallFont());
    list->setToolTip(kListTip);
    return list;
}

QTimer* NewTimer(QObject* parent, const char* name, int interval, bool enabled)
{
    auto* timer = NewControl<QTimer>(parent, name);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(interval);
    if (enabled)
        timer->start();
    return timer;
}

} // namespace

void frmUDP::Place(QWidget* control, int left, int top, int width, int height)
{
    control->setGeometry(TwipsToPixels(left, logicalDpiX()), TwipsToPixels(top, logicalDpiY()),
                         TwipsToPixels(width, logicalDpiX()), TwipsToPixels(height, logicalDpiY()));
}

void frmUDP::CreateControls()
{
    setObjectName(QStringLiteral("frmUDP"));
    setWindowTitle(QStringLiteral("Marrowby"));
    setWindowIcon(TrafficLightIcon());
    setFixedSize(TwipsToPixels(7080, logicalDpiX()), TwipsToPixels(6765, logicalDpiY()));
    // Before any control exists, so that each one starts from the design's colours.
    setPalette(DesignPalette(kWindowBack));
    setAutoFillBackground(true);

    CreateClientControls();
    CreateReceiverControls();
    Timer1 = NewTimer(this, "Timer1", 500, false);
    tmrCONNECT = NewTimer(this, "tmrCONNECT", 1000, true);
    SetTabOrder();
    NameForScreenReaders(this);
}

void frmUDP::CreateClientControls()
{
    Text1 = NewTextBox(this, "Text1", QStringLiteral("Text1"));
    Text1->setFont(BoldFont());
    Text1->setMaxLength(kNoLengthLimit);
    Text1->setToolTip(QStringLiteral("ここのテキストは２桁をHEXとして見なして送信する"));
    Place(Text1, 0, 0, 4815, 270);

    txtIP = NewTextBox(this, "txtIP", QStringLiteral("localhost"));
    txtIP->setFont(BoldFont());
    txtIP->setToolTip(QStringLiteral("相手のIPアドレス"));
    Place(txtIP, 4680, 0, 1455, 270);

    txtPortNo = NewTextBox(this, "txtPortNo", QStringLiteral("50000"));
    txtPortNo->setFont(BoldFont());
    txtPortNo->setToolTip(QStringLiteral("送信(送受信)用ポートNo"));
    Place(txtPortNo, 6120, 0, 855, 330);

    txtContTime = NewTextBox(this, "txtContTime", QStringLiteral("5"));
    txtContTime->setFont(RegularFont());
    Place(txtContTime, 4800, 360, 375, 270);

    cmdOneShot = NewButton(this, "cmdOneShot", QStringLiteral("送信"), kSendButtonBack);
    Place(cmdOneShot, 5160, 300, 855, 375);
    cmdCont = NewButton(this, "cmdCont", QStringLiteral("連続送信"), kSendButtonBack);
    Place(cmdCont, 0, 300, 1215, 375);
    cmdStopCont = NewButton(this, "cmdStopCont", QStringLiteral("連続停止"), kSendButtonBack);
    cmdStopCont->setEnabled(false);
    Place(cmdStopCont, 1200, 300, 1215, 375);
    cmdEnd = NewButton(this, "cmdEnd", QStringLiteral("終了"), kEndButtonBack);
    Place(cmdEnd, 6000, 300, 975, 375);

    lblCount = NewLabel(this, "lblCount", QStringLiteral("lblCount"));
    lblCount->setFont(RegularFont());
    Place(lblCount, 2400, 360, 975, 255);
    Label1 = NewLabel(this, "Label1", QStringLiteral("連続間隔(秒)"));
    Label1->setFont(SmallFont());
    Place(Label1, 3480, 360, 1335, 255);

    List1 = NewList(this, "List1");
    Place(List1, 0, 720, 6975, 2010);
}

void frmUDP::CreateReceiverControls()
{
    Frame1 = NewControl<QGroupBox>(this, "Frame1");
    Frame1->setTitle(QStringLiteral("受信部"));
    FillBackground(Frame1, kWindowBack);
    Place(Frame1, 0, 2880, 7095, 3735);

    cmdRcvOpen = NewButton(Frame1, "cmdRcvOpen", QStringLiteral("受信OPEN"), kReceiverButtonBack);
    Place(cmdRcvOpen, 4800, 120, 1335, 300);
    txtRcvPort = NewTextBox(Frame1, "txtRcvPort", QStringLiteral("50000"));
    txtRcvPort->setFont(BoldFont());
    txtRcvPort->setToolTip(QStringLiteral("受信用ポートNo"));
    Place(txtRcvPort, 6120, 120, 855, 330);

    List2 = NewList(Frame1, "List2");
    Place(List2, 120, 480, 6855, 2595);

    txtRCVPORTSEND = NewTextBox(Frame1, "txtRCVPORTSEND", QString());
    txtRCVPORTSEND->setMaxLength(kNoLengthLimit);
    txtRCVPORTSEND->setToolTip(QStringLiteral("ここのテキストはそのまま送信する"));
    Place(txtRCVPORTSEND, 120, 3360, 3135, 270);
    cmdRcvPortSend =
        NewButton(Frame1, "cmdRcvPortSend", QStringLiteral("送信"), kReceiverButtonBack);
    Place(cmdRcvPortSend, 3240, 3360, 855, 350);

    // The frame makes the two options one exclusive group; neither is chosen until the load.
    Frame2 = NewControl<QGroupBox>(Frame1, "Frame2");
    FillBackground(Frame2, kOptionFrameBack);
    Place(Frame2, 4200, 3240, 2775, 375);
    Option1 = NewControl<QRadioButton>(Frame2, "Option1");
    Option1->setText(QStringLiteral("HEX表示"));
    Place(Option1, 120, 120, 1095, 180);
    Option2 = NewControl<QRadioButton>(Frame2, "Option2");
    Option2->setText(QStringLiteral("ASCII表示"));
    Place(Option2, 1320, 120, 1215, 255);
}

void frmUDP::SetTabOrder()
{
    QWidget* const order[] = {Text1,      txtIP,      txtPortNo,      txtContTime,
                              cmdOneShot, cmdCont,    cmdStopCont,    cmdEnd,
                              txtRcvPort, cmdRcvOpen, txtRCVPORTSEND, cmdRcvPortSend,
                              List1,      List2,      Option1,        Option2};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

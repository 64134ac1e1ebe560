#include "app/frmudp.h"

#include "app/endprogram.h"
#include "convert/conversions.h"
#include "convert/numeric.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace
{

const QString kDefaultPayload = QStringLiteral("0016WGCS22000000");

} // namespace

frmUDP::frmUDP(const QString& commandLine, QWidget* parent)
    : QWidget(parent), commandLine(commandLine)
{
    CreateControls();
    connect(Text1, &QLineEdit::textChanged, this, &frmUDP::Text1_Change);
    connect(cmdEnd, &QPushButton::clicked, this, &frmUDP::cmdEnd_Click);
    Form_Load();
}

void frmUDP::SelectMode()
{
    udpMode = commandLine.toUpper() == QLatin1String("UDP");
    setWindowTitle(udpMode ? QStringLiteral("Marrowby－テスト")
                           : QStringLiteral("Tidewell－テスト"));
}

void frmUDP::Form_Load()
{
    SelectMode();
    Option1->setChecked(true);
    move(0, 0);
    firstActivate = 1;
    StartClientDefaults();
    Text1->setText(TextToHex(kDefaultPayload));
    lblCount->setText(QString());
    Timer1->setInterval(1000);
    Timer1->stop();
    tmrCONNECT->setInterval(1000);
    tmrCONNECT->start();
    List1->clear();
    List2->clear();
    StartLog();
}

void frmUDP::Form_Activate()
{
    if (firstActivate == 0)
        return;
    firstActivate = 0;
    if (commandLine.isEmpty())
        return;
    if (!(NumericValue(commandLine) > 0))
        return;
    txtRcvPort->setText(commandLine);
    OpenReceiverFromCommandLine();
}

void frmUDP::Form_Unload()
{
    CloseReceiver();
    EndLog();
    EndProgram();
}

void frmUDP::cmdEnd_Click()
{
    close();
}

void frmUDP::Text1_Change()
{
    Text1->setSelection(0, Text1->text().length());
}

// Without a window manager no activation may ever arrive, so the first show counts as one.
void frmUDP::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Form_Activate();
}

void frmUDP::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        Form_Activate();
}

void frmUDP::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    event->accept();
}

void frmUDP::StartClientDefaults() {}

void frmUDP::StartLog() {}

void frmUDP::OpenReceiverFromCommandLine()
{
    if (onRcvOpen)
        onRcvOpen();
}

void frmUDP::CloseReceiver() {}

void frmUDP::EndLog() {}

#include "app/frmudp.h"

#include "activity/activitylist.h"
#include "capture/capture.h"
#include "convert/conversions.h"
#include "log/activityrecord.h"
#include "log/log1month.h"
#include "net/clientlink.h"
#include "net/receiver.h"
#include "program/commandline.h"
#include "program/endprogram.h"
#include "program/receiverrules.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

frmUDP::frmUDP(DayLog& log, const QString& commandLine, const QString& receiverPort,
               QWidget* parent)
    : QWidget(parent), log(log), record(std::make_unique<ActivityRecord>(log)),
      client(std::make_unique<ClientLink>(static_cast<ClientView&>(*this))),
      receiver(std::make_unique<Receiver>(static_cast<ReceiverView&>(*this))),
      commandLine(commandLine), receiverPort(receiverPort)
{
    CreateControls();
    ConnectHandlers();
    Form_Load();
}

frmUDP::~frmUDP() = default;

void frmUDP::SelectMode()
{
    udpMode = UdpModeOf(commandLine);
    setWindowTitle(ModeTitle(udpMode));
}

void frmUDP::Form_Load()
{
    SelectMode();
    Option1->setChecked(true);
    move(0, 0);
    firstActivate = 1;
    StartClientDefaults();
    Text1->setText(TextToHex(ClientLink::DefaultSendData()));
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
    if (!OpenReceiverAtStart(commandLine))
        OpenReceiverAtStart(receiverPort);
}

void frmUDP::Form_Unload()
{
    ShowWhatWaits();
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

void frmUDP::StartClientDefaults()
{
    client->LoadDefaults(udpMode);
    receiver->SetUdpMode(udpMode);
}

void frmUDP::StartLog()
{
    const LogWriteResult started = log.LogStart(windowTitle(), QString());
    if (!started.failure.isEmpty())
        ShowLogFailure(*record, List1, started.failure);
    capture = Capture::FromEnvironment(log.Stamp().TheClock());
    if (capture) {
        capture->Attach(client->Socket(), [this](const QString& line) { AddList1Msg(line); });
        capture->Attach(Winsock2(), [this](const QString& line) { AddList2Msg(line); });
    }
    // A rules file that cannot be used is told in the receiver's list; the window goes on.
    rules = ReceiverRules::FromEnvironment(
        *receiver, [this](const QString& line) { AddList2Msg(line); },
        [this] { return HexDisplay(); });
    if (rules && !rules->Start())
        rules.reset();
}

bool frmUDP::OpenReceiverAtStart(const QString& portText)
{
    if (!NamesReceiverPort(portText))
        return false;
    txtRcvPort->setText(portText);
    if (onRcvOpen)
        onRcvOpen();
    return true;
}

// The socket events still queued end with the process, so what has reached either socket is
// shown and logged now, and the losses not yet told with it.
void frmUDP::ShowWhatWaits()
{
    client->Socket().Drain();
    Winsock2().Drain();
}

void frmUDP::CloseReceiver()
{
    receiver->CloseIfOpen();
}

void frmUDP::EndLog()
{
    if (rules)
        AddList2Msg(rules->SummaryLine());
    log.LogEnd();
}

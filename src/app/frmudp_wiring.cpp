// How the window's controls reach the client link and the receiver, and what those two read
// from and show on the window.
#include "activity/activitylist.h"
#include "app/frmudp.h"
#include "app/keepfocus.h"
#include "net/clientlink.h"
#include "net/guard.h"
#include "net/receiver.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

void frmUDP::ConnectHandlers()
{
    connect(Text1, &QLineEdit::textChanged, this, &frmUDP::Text1_Change);
    connect(cmdEnd, &QPushButton::clicked, this, &frmUDP::cmdEnd_Click);

    // Every handler runs guarded: whatever it throws becomes a line in its own list.
    auto clientHandler = [this](void (ClientLink::*handler)()) {
        return GuardedSlot(client.get(), handler,
                           [this](const QString& line) { AddList1Msg(line); });
    };
    auto receiverHandler = [this](void (Receiver::*handler)()) {
        return GuardedSlot(receiver.get(), handler,
                           [this](const QString& line) { AddList2Msg(line); });
    };
    const auto clicked = &QPushButton::clicked;
    connect(cmdOneShot, clicked, client.get(), clientHandler(&ClientLink::cmdOneShot_Click));
    connect(cmdCont, clicked, client.get(), clientHandler(&ClientLink::cmdCont_Click));
    connect(cmdStopCont, clicked, client.get(), clientHandler(&ClientLink::cmdStopCont_Click));
    connect(Timer1, &QTimer::timeout, client.get(), clientHandler(&ClientLink::Timer1_Timer));
    connect(tmrCONNECT, &QTimer::timeout, client.get(),
            clientHandler(&ClientLink::tmrCONNECT_Timer));
    connect(cmdRcvOpen, clicked, receiver.get(), receiverHandler(&Receiver::cmdRcvOpen_Click));
    // The first activation opens the receiver the same guarded way a click does.
    onRcvOpen = receiverHandler(&Receiver::cmdRcvOpen_Click);
    connect(cmdRcvPortSend, clicked, receiver.get(),
            receiverHandler(&Receiver::cmdRcvPortSend_Click));
}

Winsock& frmUDP::Winsock2()
{
    return receiver->Winsock2;
}

void frmUDP::DoSendEtherHex(Winsock& socket, const QString& payload)
{
    client->DoSendEtherHex(socket, payload);
}

void frmUDP::DoSendEther(Winsock& socket, const QString& text)
{
    client->DoSendEther(socket, text);
}

void frmUDP::DoSendEther2(Winsock& socket, const QString& iSend_Data)
{
    receiver->DoSendEther2(socket, iSend_Data);
}

void frmUDP::AddList1Msg(const QString& text)
{
    AddListMsg(*record, List1, text);
}
void frmUDP::AddList2Msg(const QString& text)
{
    AddListMsg(*record, List2, text);
}

QString frmUDP::PayloadText() const
{
    return Text1->text();
}
QString frmUDP::HostText() const
{
    return txtIP->text();
}
QString frmUDP::PortText() const
{
    return txtPortNo->text();
}
QString frmUDP::IntervalText() const
{
    return txtContTime->text();
}
bool frmUDP::HexDisplay() const
{
    return Option1->isChecked();
}
void frmUDP::SetCountCaption(const QString& caption)
{
    lblCount->setText(caption);
}
bool frmUDP::SendButtonEnabled() const
{
    return cmdOneShot->isEnabled();
}
void frmUDP::SetSendButtonEnabled(bool enabled)
{
    SetEnabledKeepingFocus(cmdOneShot, enabled);
}

void frmUDP::SetContinuousSending(bool on)
{
    if (on)
        Timer1->start();
    else
        Timer1->stop();
    // The focus goes to the button that undoes the press, never on to quitting.
    if (on) {
        cmdStopCont->setEnabled(true);
        DisableHandingFocus(cmdCont, cmdStopCont);
        cmdEnd->setEnabled(false);
    } else {
        cmdCont->setEnabled(true);
        cmdEnd->setEnabled(true);
        DisableHandingFocus(cmdStopCont, cmdCont);
    }
}

QString frmUDP::RcvPortText() const
{
    return txtRcvPort->text();
}
void frmUDP::SetRcvOpenEnabled(bool enabled)
{
    cmdRcvOpen->setEnabled(enabled);
}
QString frmUDP::ReplyText() const
{
    return txtRCVPORTSEND->text();
}

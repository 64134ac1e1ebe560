#pragma once

#include "net/receiverview.h"
#include "net/winsock.h"

#include <QObject>

// The lower half of the window: listens (TCP, one peer at a time) or binds (UDP) on a local
// port, shows what arrives and sends the operator's replies.
class Receiver : public QObject {
    Q_OBJECT
public:
    explicit Receiver(ReceiverView& view, QObject* parent = nullptr);

    void SetUdpMode(bool udpMode) { udpMode_ = udpMode; }

    void cmdRcvOpen_Click();
    void Winsock2_ConnectionRequest(qint32 requestId);
    void Winsock2_Close();
    void Winsock2_Error();
    void CloseListener();
    void Winsock2_DataArrival();
    void Winsock2_Lost(qint64 count);
    void cmdRcvPortSend_Click();
    void DoSendEther2(Winsock& Winsock2, const QString& iSend_Data);
    // The unload step: close the receiver if it is open.
    void CloseIfOpen();

    Winsock Winsock2;

private:
    qint32 ListeningPort() const;
    void RefuseWaitingPeers();
    void Report(const QString& text) { view_.AddList2Msg(text); }

    ReceiverView& view_;
    QString arrivalLine_; // the last arrival's line, its buffer filled again by the next
    bool udpMode_ = false;
};

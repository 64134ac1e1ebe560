#pragma once

#include "net/arrival.h"
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
    // Closes the TCP connection from this side, then listens again as after a peer's close.
    void EndConnection();
    // Opened once and closed now: nothing opens it again in this run.
    bool ClosedForGood() const;

    Winsock Winsock2;

signals:
    // Every arrival, after its line is shown.
    void Arrived(const Arrival& arrival);
    // A TCP peer was accepted; it is served until PeerLeft.
    void PeerConnected(const PeerAddress& peer);
    // The TCP peer served has gone: it closed, or the receiver closed.
    void PeerLeft();
    // A failure was reported (an error event, a call that raised); the receiver may be closed.
    void Failed();

protected:
    void connectNotify(const QMetaMethod& signal) override;
    void disconnectNotify(const QMetaMethod& signal) override;

private:
    qint32 ListeningPort() const;
    void RefuseWaitingPeers();
    void Report(const QString& text) { view_.AddList2Msg(text); }
    void ReportFailure(const QString& text);

    ReceiverView& view_;
    QString arrivalLine_; // the last arrival's line, its buffer filled again by the next
    Arrival arrival_;     // the last arrival, its buffer filled again by the next
    bool udpMode_ = false;
    bool opened_ = false;
    // How many listen to Arrived: only then is the peer of each arrival looked up.
    int arrivedWatchers_ = 0;
};

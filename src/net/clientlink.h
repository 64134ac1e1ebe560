#pragma once

#include "net/arrival.h"
#include "net/clientview.h"
#include "net/winsock.h"

#include <QObject>

// The client's shared variables: the link's state and counters.
struct ClientVariables {
    bool UdpMode = false;
    qint32 ReconnectTicks = 0;
    qint32 ContTicks = 0;
    qint32 ContInterval = 0;

    qint32 SendStarted = 0;
    // Ticks between two reconnection checks; nothing ever changes it.
    static constexpr qint32 ReconnectInterval = 5;
    QString TargetHost;
    qint32 Connected = 0;
    qint32 SendDone = 0;
    double SendCount = 0;
};

// The client half of the window: the connection supervision, the payload send path, continuous
// sending and the display of the peer's answers, with the client's shared variables.
class ClientLink : public QObject, private ClientVariables {
    Q_OBJECT
public:
    explicit ClientLink(ClientView& view, QObject* parent = nullptr);

    // Start values set while the window loads.
    void LoadDefaults(bool udpMode);
    void InitClientDefaults();
    static QString DefaultSendData() { return QStringLiteral("0016WGCS22000000"); }

    void ConnectClient();
    void CloseClient();
    void DoSendEtherHex(Winsock& socket, const QString& payload);
    void DoSendEther(Winsock& socket, const QString& text);

    void cmdOneShot_Click();
    void cmdCont_Click();
    void cmdStopCont_Click();
    void Timer1_Timer();
    void tmrCONNECT_Timer();

    void Winsock1_Connect();
    void Winsock1_Error();
    void Winsock1_SendComplete();
    void Winsock1_Close();
    void Winsock1_DataArrival();
    void Winsock1_Lost(qint64 count);

signals:
    // Every answer of the peer, after its line is shown.
    void Arrived(const Arrival& arrival);

public:
    // Read only: the link alone changes them.
    const ClientVariables& Variables() const { return *this; }
    // What the window does to both its sockets alike: the capture, the drain at the stop.
    Winsock& Socket() { return Winsock1; }

private:
    void ConnectRequest(const QString& portText);
    void WaitForSendDone();
    void Report(const QString& text) { view_.AddList1Msg(text); }

    Winsock Winsock1;
    ClientView& view_;
    QString arrivalLine_; // the last arrival's line, its buffer filled again by the next
    Arrival arrival_;     // the last arrival, its buffer filled again by the next
};

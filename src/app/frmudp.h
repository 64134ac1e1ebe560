#pragma once

#include "net/clientview.h"
#include "net/receiverview.h"

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class ActivityList;
class ActivityRecord;
class Capture;
class DayLog;
class ClientLink;
class Receiver;
class ReceiverRules;
class Winsock;

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;

// The program's one window: the client side above, the receiving frame below.
class frmUDP : public QWidget, public ClientView, public ReceiverView {
    Q_OBJECT
public:
    // Builds every control with its design values, then runs Form_Load. `receiverPort` opens the
    // receiver at the first activation, as a port on the command line does, when that names none.
    // Every line of either list also goes to `log`.
    frmUDP(DayLog& log, const QString& commandLine, const QString& receiverPort = QString(),
           QWidget* parent = nullptr);
    ~frmUDP() override;

    // The client half (its socket and routines) and the receiving half (Winsock2).
    ClientLink& Client() { return *client; }
    Receiver& Rcv() { return *receiver; }
    Winsock& Winsock2();

    void DoSendEtherHex(Winsock& socket, const QString& payload);
    void DoSendEther(Winsock& socket, const QString& text);
    void DoSendEther2(Winsock& socket, const QString& iSend_Data);

    void AddList1Msg(const QString& text) override;
    void AddList2Msg(const QString& text) override;

    bool UdpMode() const { return udpMode; }
    QString CommandLine() const { return commandLine; }
    int FirstActivate() const { return firstActivate; }

    void Form_Load();
    void Form_Activate();
    void Form_Unload();
    void cmdEnd_Click();
    void Text1_Change();

    QString PayloadText() const override;
    QString HostText() const override;
    QString PortText() const override;
    QString IntervalText() const override;
    bool HexDisplay() const override;
    void SetCountCaption(const QString& caption) override;
    bool SendButtonEnabled() const override;
    void SetSendButtonEnabled(bool enabled) override;
    void SetContinuousSending(bool on) override;
    QString RcvPortText() const override;
    void SetRcvOpenEnabled(bool enabled) override;
    QString ReplyText() const override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The controls; each carries its design name as its object name, which is how it is found
    // from outside the window.
    QLineEdit* Text1 = nullptr;
    QLineEdit* txtIP = nullptr;
    QLineEdit* txtPortNo = nullptr;
    QLineEdit* txtContTime = nullptr;
    QPushButton* cmdOneShot = nullptr;
    QPushButton* cmdCont = nullptr;
    QPushButton* cmdStopCont = nullptr;
    QPushButton* cmdEnd = nullptr;
    QLabel* lblCount = nullptr;
    QLabel* Label1 = nullptr;
    ActivityList* List1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QPushButton* cmdRcvOpen = nullptr;
    QLineEdit* txtRcvPort = nullptr;
    ActivityList* List2 = nullptr;
    QLineEdit* txtRCVPORTSEND = nullptr;
    QPushButton* cmdRcvPortSend = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* tmrCONNECT = nullptr;

    // Run by the first activation when the command line or the start-up setting names a port.
    std::function<void()> onRcvOpen;

    void CreateControls();
    void CreateClientControls();
    void CreateReceiverControls();
    void SetTabOrder();
    void Place(QWidget* control, int left, int top, int width, int height);
    void SelectMode();
    void ConnectHandlers();

    // Start values of the client link's counters and flags.
    void StartClientDefaults();
    // Starts the log, titled with the window caption.
    void StartLog();
    // Puts the port text into txtRcvPort and opens the listener, when the text names a port.
    bool OpenReceiverAtStart(const QString& portText);
    // Before the end: what already arrived on either socket comes through its handlers.
    void ShowWhatWaits();
    // Closes the listener if it is open.
    void CloseReceiver();
    // Writes the log's closing line.
    void EndLog();

    DayLog& log;
    std::unique_ptr<ActivityRecord> record;
    std::unique_ptr<ClientLink> client;
    std::unique_ptr<Receiver> receiver;
    std::unique_ptr<ReceiverRules> rules; // PEERTEST_RULES: the receiver answers by rules
    std::unique_ptr<Capture> capture;     // destroyed first: it unhooks the sockets
    const QString commandLine;
    const QString receiverPort;
    bool udpMode = false;
    int firstActivate = 0;
};

#pragma once

#include "activity/activitylist.h"
#include "app/frmudp.h"
#include "net/winsock.h"
#include "program/endprogram.h"
#include "support/logsandbox.h"
#include "support/windowcontrols.h"

#include <QStringList>
#include <QUdpSocket>
#include <functional>
#include <memory>

// A UDP socket of the test's own, towards a bound socket that never reads. A frame that the
// window's send routine hands to it is sent and counted, but its completion never reaches the
// client link, which then owes one for good.
class SideSocket {
public:
    SideSocket();
    QUdpSocket sink;
    Winsock socket;
};

// A real window in a throw-away program folder, whose end of program is only counted.
// `beforeLoad` may prepare the folder (or point the program elsewhere) before the log starts.
class WindowFixture {
public:
    explicit WindowFixture(const QString& commandLine = QString(),
                           const std::function<void(LogSandbox&)>& beforeLoad = {})
    {
        SetEndProgram([this] { ++endCalls; });
        if (beforeLoad)
            beforeLoad(sandbox);
        window = std::make_unique<frmUDP>(sandbox.log, commandLine);
    }
    ~WindowFixture()
    {
        window.reset();
        SetEndProgram({});
    }

    // The messages of a list without their date and time stamps.
    static QStringList Messages(const ActivityList* list)
    {
        QStringList messages;
        for (int row = 0; row < list->count(); ++row)
            messages << list->text(row).mid(20);
        return messages;
    }
    QStringList list1() const { return Messages(ui().List1); }
    QStringList list2() const { return Messages(ui().List2); }
    WindowControls ui() const { return WindowControls(*window); }

    // Runs the connection supervision's timer handler `count` times.
    void ticks(int count);
    // Arms the client towards host:port, runs five ticks and waits (bounded) for the link.
    bool connectClient(quint16 port, const QString& host = QStringLiteral("127.0.0.1"));
    // Opens the receiver on a port the system chooses and returns it (0 when it did not open).
    quint16 openReceiver();

    LogSandbox sandbox;
    std::unique_ptr<frmUDP> window;
    int endCalls = 0;
};

#include "support/windowfixture.h"

#include "net/clientlink.h"
#include "net/winsock.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

void WindowFixture::ticks(int count)
{
    for (int i = 0; i < count; ++i)
        window->Client().tmrCONNECT_Timer();
}

bool WindowFixture::connectClient(quint16 port, const QString& host)
{
    window->txtIP->setText(host);
    window->txtPortNo->setText(QString::number(port));
    ClientLink& client = window->Client();
    client.cmdOneShot_Click();
    ticks(5);
    return QTest::qWaitFor([&] { return client.Connected == 1; }, 5000);
}

quint16 WindowFixture::openReceiver()
{
    window->txtRcvPort->setText(QStringLiteral("0"));
    window->cmdRcvOpen->click();
    const quint16 port = quint16(window->Winsock2().LocalPort());
    // Where the receiver listens again after a peer, as an operator would have typed it.
    window->txtRcvPort->setText(QString::number(port));
    return port;
}

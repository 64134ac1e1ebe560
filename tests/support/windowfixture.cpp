#include "support/windowfixture.h"

#include "net/clientlink.h"
#include "support/peers.h"

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
    const quint16 port = FreePort();
    window->txtRcvPort->setText(QString::number(port));
    window->cmdRcvOpen->click();
    return port;
}

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
    ui().txtIP->setText(host);
    ui().txtPortNo->setText(QString::number(port));
    ClientLink& client = window->Client();
    client.cmdOneShot_Click();
    ticks(5);
    return QTest::qWaitFor([&] { return client.Variables().Connected == 1; }, 5000);
}

quint16 WindowFixture::openReceiver()
{
    ui().txtRcvPort->setText(QStringLiteral("0"));
    ui().cmdRcvOpen->click();
    const quint16 port = quint16(window->Winsock2().LocalPort());
    // Where the receiver listens again after a peer, as an operator would have typed it.
    ui().txtRcvPort->setText(QString::number(port));
    return port;
}

SideSocket::SideSocket()
{
    sink.bind(QHostAddress::LocalHost, 0);
    socket.SetProtocol(Winsock::sckUDPProtocol);
    socket.SetRemoteHost(QStringLiteral("127.0.0.1"));
    socket.SetRemotePort(sink.localPort());
}

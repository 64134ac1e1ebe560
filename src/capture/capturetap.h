#pragma once

#include "capture/capturesink.h"
#include "capture/packets.h"
#include "log/failurerun.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class CaptureFile;

// One socket control's traffic into the capture file, each TCP connection as a flow of its own.
// A packet that cannot be written is counted; `notice` is told once per run of failures,
// "Capture Err: " + why + " (" + the file + ")", and once the file takes packets again,
// "Capture Err: N packets not written.".
class CaptureTap : public CaptureSink {
public:
    CaptureTap(CaptureFile& file, std::function<void(const QString&)> notice);
    ~CaptureTap() override;

    void TcpOpened(const QHostAddress& local, quint16 localPort, const QHostAddress& remote,
                   quint16 remotePort, bool outgoing) override;
    void TcpData(bool outgoing, const QByteArray& bytes) override;
    void TcpClosedHere() override;
    void TcpClosedByPeer(bool reset) override;
    void Datagram(quint16 localPort, const QHostAddress& remote, quint16 remotePort, bool outgoing,
                  const QByteArray& bytes) override;

private:
    void Write(const std::vector<QByteArray>& packets);
    QHostAddress LocalAddressTowards(const QHostAddress& remote, quint16 port);

    CaptureFile& file_;
    std::function<void(const QString&)> notice_;
    std::unique_ptr<TcpFlow> flow_;
    FailureRun notWritten_;
    quint16 identification_ = 0; // of the IPv4 datagrams
    // The local address towards the last remote, which a flood asks for again and again.
    QHostAddress lastRemote_;
    QHostAddress lastLocal_;
};

#pragma once

#include <QString>
#include <functional>
#include <memory>

class CaptureFile;
class CaptureTap;
class Winsock;

// PEERTEST_CAPTURE=DIR: what both sockets send and receive also goes into today's capture in
// DIR, each socket's failures told in its own list. Unset or empty: no capture at all.
class CaptureWiring {
public:
    using Notice = std::function<void(const QString&)>;
    // Null when no capture is asked for.
    static std::unique_ptr<CaptureWiring> FromEnvironment(Winsock& client, Notice toClientList,
                                                          Winsock& receiver, Notice toReceiverList);
    CaptureWiring(const QString& folder, Winsock& client, Notice toClientList, Winsock& receiver,
                  Notice toReceiverList);
    // Unhooks both sockets.
    ~CaptureWiring();

private:
    Winsock& client_;
    Winsock& receiver_;
    std::unique_ptr<CaptureFile> file_;
    std::unique_ptr<CaptureTap> clientTap_;
    std::unique_ptr<CaptureTap> receiverTap_;
};

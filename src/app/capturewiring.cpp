#include "app/capturewiring.h"

#include "log/capturefile.h"
#include "log/clock.h"
#include "net/capturetap.h"
#include "net/winsock.h"

std::unique_ptr<CaptureWiring> CaptureWiring::FromEnvironment(Winsock& client, Notice toClientList,
                                                              Winsock& receiver,
                                                              Notice toReceiverList)
{
    const QString folder = qEnvironmentVariable("PEERTEST_CAPTURE");
    if (folder.isEmpty())
        return nullptr;
    return std::make_unique<CaptureWiring>(folder, client, std::move(toClientList), receiver,
                                           std::move(toReceiverList));
}

// The day file is fixed once, as the log's is.
CaptureWiring::CaptureWiring(const QString& folder, Winsock& client, Notice toClientList,
                             Winsock& receiver, Notice toReceiverList)
    : client_(client), receiver_(receiver),
      file_(std::make_unique<CaptureFile>(folder, Now().date())),
      clientTap_(std::make_unique<CaptureTap>(*file_, std::move(toClientList))),
      receiverTap_(std::make_unique<CaptureTap>(*file_, std::move(toReceiverList)))
{
    client_.SetCapture(clientTap_.get());
    receiver_.SetCapture(receiverTap_.get());
}

CaptureWiring::~CaptureWiring()
{
    client_.SetCapture(nullptr);
    receiver_.SetCapture(nullptr);
}

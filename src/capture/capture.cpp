#include "capture/capture.h"

#include "capture/capturefile.h"
#include "capture/capturetap.h"
#include "log/clock.h"
#include "net/winsock.h"

std::unique_ptr<Capture> Capture::FromEnvironment(const Clock& clock)
{
    const QString folder = qEnvironmentVariable("PEERTEST_CAPTURE");
    if (folder.isEmpty())
        return nullptr;
    return std::make_unique<Capture>(folder, clock);
}

Capture::Capture(const QString& folder, const Clock& clock)
    : file_(std::make_unique<CaptureFile>(folder, clock.Now().date()))
{
}

Capture::~Capture()
{
    for (auto& [socket, tap] : taps_)
        socket->SetCapture(nullptr);
}

void Capture::Attach(Winsock& socket, Notice notice)
{
    auto tap = std::make_unique<CaptureTap>(*file_, std::move(notice));
    socket.SetCapture(tap.get());
    taps_.emplace_back(&socket, std::move(tap));
}

#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class CaptureFile;
class CaptureTap;
class Clock;
class Winsock;

// PEERTEST_CAPTURE=DIR: what the attached sockets send and receive also goes into today's
// capture in DIR, each socket's failures told through its own notice. Unset or empty: no capture.
class Capture {
public:
    using Notice = std::function<void(const QString&)>;
    // Null when no capture is asked for.
    static std::unique_ptr<Capture> FromEnvironment(const Clock& clock);
    // The day file is fixed once, by the clock, as the log's is.
    Capture(const QString& folder, const Clock& clock);
    // Unhooks every attached socket.
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    void Attach(Winsock& socket, Notice notice);

private:
    std::unique_ptr<CaptureFile> file_;
    std::vector<std::pair<Winsock*, std::unique_ptr<CaptureTap>>> taps_;
};

#pragma once

#include "cli/clientlink.h"
#include "cli/conventions.h"

#include <memory>

class CaptureTap;
class Record;
class Transcript;

// A client link whose every exchange also goes into the transcript, the day log ("SND[...]",
// "RCV[...]") and the capture.
class RecordedLink {
public:
    // Null, with a status-3 failure, when the target cannot be reached.
    static std::unique_ptr<RecordedLink> Open(const Target& target, QDeadlineTimer deadline,
                                              Transcript& transcript, Record& record,
                                              CliFailure& failure);
    ~RecordedLink();

    Reading Send(const QByteArray& bytes, QDeadlineTimer deadline);
    // One read (TCP) or one datagram (UDP), with its round trip since the last send.
    Reading Receive(QDeadlineTimer deadline);
    const Target& TheTarget() const { return target_; }
    // Since the last send.
    qint64 RoundTripNs() const;

private:
    RecordedLink(const Target& target, std::unique_ptr<ClientLink> link, Transcript& transcript,
                 Record& record);

    Target target_;
    std::unique_ptr<ClientLink> link_;
    Transcript& transcript_;
    Record& record_;
    std::unique_ptr<CaptureTap> tap_;
    QString peer_;
    qint64 sentAtNs_ = 0;
    bool peerClosed_ = false;
};

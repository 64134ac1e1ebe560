#include "cli/recordedlink.h"

#include "capture/capturetap.h"
#include "cli/record.h"
#include "cli/transcript.h"
#include "convert/conversions.h"

std::unique_ptr<RecordedLink> RecordedLink::Open(const Target& target, QDeadlineTimer deadline,
                                                 Transcript& transcript, Record& record,
                                                 CliFailure& failure)
{
    QString why;
    std::unique_ptr<ClientLink> link = ClientLink::Open(target, deadline, why);
    if (!link) {
        failure = {kUnreachable, why};
        record.Line(QStringLiteral("Connect Err: ") + why);
        return nullptr;
    }
    return std::unique_ptr<RecordedLink>(
        new RecordedLink(target, std::move(link), transcript, record));
}

RecordedLink::RecordedLink(const Target& target, std::unique_ptr<ClientLink> link,
                           Transcript& transcript, Record& record)
    : target_(target), link_(std::move(link)), transcript_(transcript), record_(record),
      tap_(record.NewTap()), peer_(PeerText(link_->PeerAddress(), link_->PeerPort()))
{
    if (!target_.Udp()) {
        transcript_.Event(false, peer_, QStringLiteral("connected"));
        if (tap_)
            tap_->TcpOpened(link_->LocalAddress(), link_->LocalPort(), link_->PeerAddress(),
                            link_->PeerPort(), true);
    }
    record_.Line(QStringLiteral("Connected:") + target_.Text());
}

RecordedLink::~RecordedLink()
{
    link_->Close();
    if (target_.Udp())
        return;
    transcript_.Event(false, peer_, QStringLiteral("closed"));
    if (tap_ && !peerClosed_)
        tap_->TcpClosedHere();
}

Reading RecordedLink::Send(const QByteArray& bytes, QDeadlineTimer deadline)
{
    sentAtNs_ = transcript_.Nanoseconds();
    transcript_.Line(Transcript::Direction::Sent, target_.Udp(), peer_, bytes);
    record_.Line(QStringLiteral("SND[") + BytesToHex(bytes) + u']');
    const Reading sent = link_->Send(bytes, deadline);
    if (sent.kind == Reading::Kind::Bytes && tap_) {
        if (target_.Udp())
            tap_->Datagram(link_->LocalPort(), link_->PeerAddress(), link_->PeerPort(), true,
                           bytes);
        else
            tap_->TcpData(true, bytes);
    }
    return sent;
}

Reading RecordedLink::Receive(QDeadlineTimer deadline)
{
    const Reading reading = link_->Receive(deadline, [this] { transcript_.Flush(); });
    if (reading.kind == Reading::Kind::Closed) {
        peerClosed_ = true;
        if (tap_)
            tap_->TcpClosedByPeer(false);
    }
    if (reading.kind != Reading::Kind::Bytes)
        return reading;
    if (transcript_.Enabled())
        transcript_.Line(Transcript::Direction::Received, target_.Udp(), peer_, reading.bytes,
                         QStringLiteral("rtt=") + MillisecondsText(RoundTripNs()) +
                             QStringLiteral("ms"));
    record_.Line(QStringLiteral("RCV[") + BytesToHex(reading.bytes) + u']');
    if (tap_) {
        if (target_.Udp())
            tap_->Datagram(link_->LocalPort(), link_->PeerAddress(), link_->PeerPort(), false,
                           reading.bytes);
        else
            tap_->TcpData(false, reading.bytes);
    }
    return reading;
}

qint64 RecordedLink::RoundTripNs() const
{
    return transcript_.Nanoseconds() - sentAtNs_;
}

#include "program/receiverrules.h"

#include "net/raisederror.h"
#include "net/receiver.h"
#include "standin/rulessource.h"
#include "standin/standin.h"
#include "standin/tcpstandin.h"

#include <QTimer>

namespace {

PeerEnd EndOf(const PeerAddress& peer)
{
    return {peer.Address(), peer.Port()};
}

// Why the socket did not take the reply; empty when it did.
QString SentOrWhyNot(const std::function<void()>& send)
{
    try {
        send();
        return QString();
    } catch (const RaisedError& error) {
        return error.description();
    }
}

} // namespace

std::unique_ptr<ReceiverRules> ReceiverRules::FromEnvironment(Receiver& receiver, Show show,
                                                              std::function<bool()> hexDisplay)
{
    const QString path = RulesSource::PathFromEnvironment();
    if (path.isEmpty())
        return nullptr;
    return std::make_unique<ReceiverRules>(path, receiver, std::move(show), std::move(hexDisplay));
}

ReceiverRules::ReceiverRules(const QString& path, Receiver& receiver, Show show,
                             std::function<bool()> hexDisplay)
    : receiver_(receiver), show_(std::move(show)), hexDisplay_(std::move(hexDisplay)),
      source_(std::make_unique<RulesSource>(path, show_))
{
}

ReceiverRules::~ReceiverRules() = default;

bool ReceiverRules::Start()
{
    const QStringList errors = source_->Start();
    for (const QString& error : errors)
        show_(QStringLiteral("Rules Err: ") + error);
    if (!errors.isEmpty())
        return false;
    StandInOutput output{
        [this](const QString& line, const PeerEnd&, const Answer*) { show_(line); }, hexDisplay_};
    standIn_ = std::make_unique<StandIn>(
        source_->TheResponder(), std::move(output),
        [this](const QByteArray& bytes, const QHostAddress& to, quint16 port) {
            return SentOrWhyNot(
                [&] { receiver_.Winsock2.SendDataTo(bytes, PeerAddress::Of(to, port)); });
        });
    connect(&receiver_, &Receiver::PeerConnected, this, &ReceiverRules::Connected);
    connect(&receiver_, &Receiver::Arrived, this, &ReceiverRules::Arrived);
    connect(&receiver_, &Receiver::PeerLeft, this, &ReceiverRules::Left);
    return true;
}

QString ReceiverRules::SummaryLine() const
{
    return standIn_ ? standIn_->SummaryLine() : QString();
}

void ReceiverRules::Connected(const PeerAddress& peer)
{
    Left();
    tcp_ = std::make_unique<TcpStandIn>(
        *standIn_, EndOf(peer),
        [this](const QByteArray& bytes) {
            return SentOrWhyNot([&] { receiver_.Winsock2.SendDataNow(bytes); });
        },
        // After the stand-in's own work is done with: closing ends it.
        [this] { QTimer::singleShot(0, &receiver_, [this] { receiver_.EndConnection(); }); });
}

void ReceiverRules::Arrived(const Arrival& arrival)
{
    if (tcp_)
        tcp_->Arrived(arrival.bytes);
    else if (receiver_.Winsock2.Protocol() == Winsock::sckUDPProtocol)
        standIn_->Datagram(arrival.bytes, EndOf(arrival.peer));
}

void ReceiverRules::Left()
{
    if (!tcp_)
        return;
    tcp_->Closed();
    // It may be the one whose close brought us here.
    tcp_.release()->deleteLater();
}

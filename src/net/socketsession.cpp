#include "net/socketsession.h"

#include <QHostInfo>
#include <utility>

namespace {

// "localhost" always means this machine, but the hosts file may list only one of its loopback
// addresses while the peer listens on the other, so both are tried.
QList<QHostAddress> WithLoopbacks(const QString& host, QList<QHostAddress> addresses)
{
    if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
        return addresses;
    for (const auto loopback : {QHostAddress::LocalHost, QHostAddress::LocalHostIPv6}) {
        if (!addresses.contains(QHostAddress(loopback)))
            addresses.append(QHostAddress(loopback));
    }
    return addresses;
}

// Names in the reserved "invalid" domain never resolve; they are refused here rather than handed
// to the system's resolver, which might ask a name server over the network.
bool IsReservedInvalidName(const QString& host)
{
    QString name = host.toLower();
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name == QLatin1String("invalid") || name.endsWith(QLatin1String(".invalid"));
}

} // namespace

void SocketSession::Post(std::function<void()> delivery)
{
    const quint64 postedIn = session_;
    QMetaObject::invokeMethod(
        &owner_,
        [this, postedIn, delivery = std::move(delivery)] {
            if (postedIn == session_)
                delivery();
        },
        Qt::QueuedConnection);
}

void SocketSession::PostSendComplete()
{
    if (owner_.SendCompleteWanted())
        Post([this] { emit owner_.SendComplete(); });
}

void SocketSession::Fail(const RaisedError& error)
{
    state_ = Winsock::sckError;
    Post([this, error] { emit owner_.Error(error.number(), error.description()); });
}

void SocketSession::Resolve(const QString& host, std::function<void(const Addresses&)> done)
{
    QHostAddress literal;
    if (literal.setAddress(host)) {
        done({literal});
        return;
    }
    if (host == aheadHost_ && ahead_) {
        done(*ahead_);
        return;
    }
    if (IsReservedInvalidName(host)) {
        Post([done] { done({}); }); // answered later, as a failed lookup would be
        return;
    }
    const quint64 askedIn = session_;
    lookupId_ =
        QHostInfo::lookupHost(host, &owner_, [this, askedIn, host, done](const QHostInfo& info) {
            if (askedIn != session_)
                return;
            lookupId_ = -1;
            done(WithLoopbacks(host, info.addresses()));
        });
}

void SocketSession::LookAhead(const QString& host)
{
    if (lookingAhead_ || QHostAddress().setAddress(host) || IsReservedInvalidName(host))
        return;
    // A name asked again is looked up afresh, its last answer kept meanwhile.
    if (host != aheadHost_)
        ahead_.reset();
    aheadHost_ = host;
    lookingAhead_ = true;
    QHostInfo::lookupHost(host, &owner_, [this, host](const QHostInfo& info) {
        lookingAhead_ = false;
        if (host == aheadHost_)
            ahead_ = WithLoopbacks(host, info.addresses());
    });
}

void SocketSession::AbortLookup()
{
    if (lookupId_ == -1)
        return;
    QHostInfo::abortHostLookup(lookupId_);
    lookupId_ = -1;
}

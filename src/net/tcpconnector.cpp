#include "net/tcpconnector.h"

#include "net/socketerrors.h"

#include <QTcpSocket>
#include <utility>

namespace {

void Discard(QTcpSocket* attempt, QObject* context)
{
    QObject::disconnect(attempt, nullptr, context, nullptr);
    attempt->abort();
    attempt->deleteLater();
}

} // namespace

TcpConnector::TcpConnector(SocketSession& session, Connected connected)
    : session_(session), connected_(std::move(connected))
{
}

TcpConnector::~TcpConnector()
{
    Stop();
}

void TcpConnector::Start(const QString& host, quint16 port)
{
    port_ = port;
    session_.SetState(Winsock::sckResolvingHost);
    lastFailure_ = SocketFailureOf(QAbstractSocket::HostNotFoundError);
    session_.Resolve(host, [this](const SocketSession::Addresses& addresses) {
        untried_ = addresses;
        session_.SetState(Winsock::sckHostResolved);
        TryNextAddress();
    });
}

void TcpConnector::Stop()
{
    if (attempt_)
        Discard(attempt_, &context_);
    attempt_ = nullptr;
    untried_.clear();
}

quint16 TcpConnector::LocalPort() const
{
    return attempt_ ? attempt_->localPort() : 0;
}

void TcpConnector::TryNextAddress()
{
    if (attempt_)
        Discard(attempt_, &context_);
    attempt_ = nullptr;
    if (untried_.isEmpty()) {
        session_.Fail(lastFailure_);
        return;
    }
    attempt_ = new QTcpSocket(&session_.Owner());
    QObject::connect(attempt_, &QAbstractSocket::connected, &context_, [this] { HandOver(); });
    QObject::connect(attempt_, &QAbstractSocket::errorOccurred, &context_,
                     [this](QAbstractSocket::SocketError error) { OnError(error); });
    session_.SetState(Winsock::sckConnecting);
    attempt_->connectToHost(untried_.takeFirst(), port_);
}

void TcpConnector::OnError(QAbstractSocket::SocketError error)
{
    if (session_.State() != Winsock::sckConnecting)
        return;
    // The next address is tried from the event loop, not from inside this socket's signal.
    lastFailure_ = SocketFailureOf(error);
    session_.Post([this, failed = attempt_] {
        if (attempt_ == failed)
            TryNextAddress();
    });
}

void TcpConnector::HandOver()
{
    QTcpSocket* connected = std::exchange(attempt_, nullptr);
    QObject::disconnect(connected, nullptr, &context_, nullptr);
    untried_.clear();
    connected_(connected);
}

#pragma once

#include "net/raisederror.h"
#include "net/winsock.h"

#include <QHostAddress>
#include <QList>
#include <functional>
#include <optional>

class CaptureSink;

// What the roles of one socket control share: the control's state, the control whose events
// they raise, and the session each queued delivery belongs to. Close begins a new session, so
// nothing queued for an old connection reaches the program.
class SocketSession {
public:
    using Addresses = QList<QHostAddress>;

    explicit SocketSession(Winsock& owner) : owner_(owner) {}

    Winsock& Owner() const { return owner_; }
    int State() const { return state_; }
    void SetState(int state) { state_ = state; }
    quint64 Current() const { return session_; }
    void Begin() { ++session_; }

    // Runs `delivery` from the event loop, unless a new session has begun by then.
    void Post(std::function<void()> delivery);
    // The SendComplete event of one send, when anyone listens for it.
    void PostSendComplete();
    // The control is in error; the Error event follows.
    void Fail(const RaisedError& error);
    // The addresses of `host`, at once for a literal address or a name looked up ahead,
    // otherwise from the event loop (none when the name does not resolve).
    void Resolve(const QString& host, std::function<void(const Addresses&)> done);
    // Looks the name up now, whatever the session, so that a later Resolve of it answers at once.
    void LookAhead(const QString& host);
    void AbortLookup();
    // Where every packet of the control also goes; null while nothing captures.
    CaptureSink* Capture() const { return capture_; }
    void SetCapture(CaptureSink* sink) { capture_ = sink; }

private:
    Winsock& owner_;
    int state_ = Winsock::sckClosed;
    quint64 session_ = 0;
    int lookupId_ = -1;
    QString aheadHost_; // the name looked up ahead, and what it gave once answered
    std::optional<Addresses> ahead_;
    bool lookingAhead_ = false;
    CaptureSink* capture_ = nullptr;
};

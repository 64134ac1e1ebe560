#pragma once

#include "net/raisederror.h"

#include <exception>
#include <functional>

// The one guard between the event loop and the program: every handler of a button, a timer or
// a socket event runs through it, once per delivery, so that no failure escapes into the event
// loop. A raised error, or anything else thrown, becomes one "Err:" line through `report`, and
// the program goes on.
template <typename Handler, typename Report> void Guarded(Handler&& handler, Report&& report)
{
    try {
        handler();
    } catch (const RaisedError& error) {
        report(ErrLine(error));
    } catch (const std::exception& error) {
        report(ErrLine(ErrorNumber::SocketFailure, QString::fromLocal8Bit(error.what())));
    } catch (...) {
        report(
            ErrLine(ErrorNumber::SocketFailure, QStringLiteral("An unexpected failure occurred.")));
    }
}

// A slot that runs one member handler of `owner` through Guarded, with the signal's arguments.
template <typename Owner, typename Report, typename... Args>
auto GuardedSlot(Owner* owner, void (Owner::*handler)(Args...), Report report)
{
    return [owner, handler, report](Args... args) {
        Guarded([&] { (owner->*handler)(args...); }, report);
    };
}

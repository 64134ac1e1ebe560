#pragma once

#include "cli/expectation.h"

#include <QByteArray>
#include <QString>

#include <chrono>

class RecordedLink;

// What waiting for an answer came to.
struct Awaited {
    // TooLong: kMostUnmatched bytes came and the expectation had not matched yet.
    enum class Kind { Matched, Mismatch, TimedOut, Closed, Unreachable, Failed, TooLong };
    Kind kind = Kind::TimedOut;
    QByteArray answer;    // Matched: the bytes the expectation took (without one: a read's)
    Captures captures;    // Matched: what the expectation captured
    QByteArray received;  // otherwise: what came, not taken
    qsizetype offset = 0; // Mismatch and TimedOut: where `received` first departs
    QString why;          // in words, for the message

    bool ok() const { return kind == Kind::Matched; }
};

// A TCP answer that grows to this without matching is given up on.
constexpr qsizetype kMostUnmatched = 1 << 20;

// Waits for the answer. TCP: reads (starting with `pending`, the bytes an earlier answer left)
// until the expectation matches a start of what came, or no byte to come can make it, or
// kMostUnmatched bytes came, or the time is up; what follows the match stays in `pending`. UDP: the
// next datagram, matched whole. Without an expectation, whatever one read or one datagram brings is
// the answer. `bound` gives the values of the names the expectation reads without capturing them.
Awaited AwaitAnswer(RecordedLink& link, const Expectation* expectation, QByteArray& pending,
                    std::chrono::milliseconds timeout, const Scope* bound = nullptr);

#pragma once

#include "log/systemclock.h"

#include <QDateTime>
#include <functional>
#include <limits>
#include <optional>

// Where a log or a capture asks for the time, so a test can hand in a clock of its own. The
// system clock is read to the second (local time, milliseconds zero).
class Clock {
public:
    // The system clock.
    Clock() = default;
    // A clock that reads `reading` instead.
    explicit Clock(std::function<QDateTime()> reading) : reading_(std::move(reading)) {}

    QDateTime Now() const;

    // The system clock's second since the epoch, read without turning it into local time;
    // nothing for a clock handed in. Within one such second Now() does not change.
    std::optional<qint64> SystemSecond() const
    {
        // Read three times for every line shown and logged, so it costs no call of its own.
        if (reading_)
            return std::nullopt;
        return SystemClockSecond();
    }

private:
    QDateTime SystemNow() const;

    std::function<QDateTime()> reading_;
    // Turning the system clock into local time costs about a microsecond, and it is read for
    // every line shown and logged; within one second nothing a reader looks at changes.
    mutable qint64 second_ = std::numeric_limits<qint64>::min();
    mutable QDateTime moment_;
};

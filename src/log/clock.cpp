#include "log/clock.h"

#include "log/systemclock.h"

QDateTime Clock::SystemNow() const
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second_) {
        moment_ = QDateTime::fromSecsSinceEpoch(now);
        second_ = now;
    }
    return moment_;
}

QDateTime Clock::Now() const
{
    return reading_ ? reading_() : SystemNow();
}

std::optional<qint64> Clock::SystemSecond() const
{
    if (reading_)
        return std::nullopt;
    return SystemClockSecond();
}

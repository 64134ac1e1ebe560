#include "log/clock.h"

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

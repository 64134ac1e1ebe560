#include "log/clock.h"

namespace {
std::function<QDateTime()>& ClockOverride()
{
    static std::function<QDateTime()> clock;
    return clock;
}
} // namespace

QDateTime Now()
{
    const auto& clock = ClockOverride();
    return clock ? clock() : QDateTime::currentDateTime();
}

void SetClock(std::function<QDateTime()> clock)
{
    ClockOverride() = std::move(clock);
}

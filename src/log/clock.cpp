#include "log/clock.h"

#include "log/systemclock.h"

#include <limits>

namespace {

// Asked for three times a line, so held where no first-use guard is checked.
std::function<QDateTime()> clockOverride;

std::function<QDateTime()>& ClockOverride()
{
    return clockOverride;
}

// Turning the system clock into local time costs about a microsecond, and it is read for every
// line shown and logged; within one second nothing a reader looks at changes.
QDateTime SystemNow()
{
    static qint64 second = std::numeric_limits<qint64>::min();
    static QDateTime moment;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (now != second) {
        moment = QDateTime::fromSecsSinceEpoch(now);
        second = now;
    }
    return moment;
}

} // namespace

QDateTime Now()
{
    const auto& clock = ClockOverride();
    return clock ? clock() : SystemNow();
}

std::optional<qint64> SystemSecond()
{
    if (ClockOverride())
        return std::nullopt;
    return SystemClockSecond();
}

void SetClock(std::function<QDateTime()> clock)
{
    ClockOverride() = std::move(clock);
}

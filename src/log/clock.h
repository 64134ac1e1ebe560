#pragma once

#include <QDateTime>
#include <functional>
#include <optional>

// The one place the program asks for the time, so tests can fix it. The system clock is read
// to the second (local time, milliseconds zero).
QDateTime Now();

// The system clock's second since the epoch, read without turning it into local time; nothing
// while a replaced clock is in use. Within one such second Now() does not change.
std::optional<qint64> SystemSecond();

// Replaces the clock; an empty function restores the system clock.
void SetClock(std::function<QDateTime()> clock);

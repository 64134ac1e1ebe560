#pragma once

#include <QDateTime>
#include <functional>

// The one place the program asks for the time, so tests can fix it. The system clock is read
// to the second (local time, milliseconds zero).
QDateTime Now();

// Replaces the clock; an empty function restores the system clock.
void SetClock(std::function<QDateTime()> clock);

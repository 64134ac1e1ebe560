#pragma once

#include <QString>

// True for exactly eight ASCII digits yyyyMMdd naming a real calendar day (Gregorian leap years).
bool IsYmdDate(const QString& text);

// The full weekday name of an eight-digit date in the system's language, or empty.
QString YmdWeekdayName(const QString& text);

#pragma once

#include <QtGlobal>

// The system clock's current second since the epoch, as QDateTime::currentSecsSinceEpoch() gives
// it, asked for every line and so read the cheapest way the system allows.
qint64 SystemClockSecond();

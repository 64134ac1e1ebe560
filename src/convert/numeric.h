#pragma once

#include <QStringView>
#include <QtGlobal>
#include <optional>

// The number a text begins with, read the way every number typed into the window is read:
// blanks, tabs and line feeds are dropped anywhere, then an optional sign, decimal digits with an
// optional point and exponent, or "&H" and hexadecimal digits. No number gives 0.
double NumericValue(QStringView text);

// Half-to-even rounding to a 32-bit integer; empty when the value does not fit.
std::optional<qint32> RoundToInt32(double value);

// Half-to-even rounding kept as a double (for counters that live in floating point).
double RoundHalfEven(double value);

#pragma once

// The value of plain ASCII "[sign]digits[.digits][e[sign]digits]" with a decimal point, whatever
// the C library's locale says; out of range gives an infinity or 0, as strtod does.
double ReadPointDecimal(const char* text);

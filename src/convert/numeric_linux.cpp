#include "convert/numeric_p.h"

#include <clocale>
#include <cstdlib>

double ReadPointDecimal(const char* text)
{
    // The window sets the C library's locale from the desktop, where the decimal mark may be a
    // comma; typed numbers always use the point.
    static const locale_t pointLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    return strtod_l(text, nullptr, pointLocale);
}

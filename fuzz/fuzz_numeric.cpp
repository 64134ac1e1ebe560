// The numeric reader never crashes, ignores blanks wherever they are, and reads "&H" digits
// as the hexadecimal number they spell.
#include "convert/numeric.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const double value = NumericValue(text);
    if (std::isnan(value))
        std::abort();

    QString spaced;
    for (QChar c : text) {
        spaced.append(c);
        spaced.append(u' ');
    }
    if (NumericValue(spaced) != value && !(std::isinf(value) && std::isinf(NumericValue(spaced))))
        std::abort();

    const std::optional<qint32> rounded = RoundToInt32(value);
    if (rounded && std::fabs(double(*rounded) - value) > 0.5)
        std::abort();
    if (!rounded && std::fabs(value) < 2147483647.0)
        std::abort();

    QString hexDigits;
    for (QChar c : text) {
        if (std::isxdigit(c.toLatin1()) && c.unicode() < 128 && hexDigits.size() < 12)
            hexDigits.append(c);
    }
    if (!hexDigits.isEmpty()) {
        const double expected =
            double(std::strtoull(hexDigits.toLatin1().constData(), nullptr, 16));
        if (NumericValue(QStringLiteral("&H") + hexDigits) != expected)
            std::abort();
    }
    return 0;
}

// The payload reader gives half the text's length (halves to even), every byte matches its pair
// of characters, and hexadecimal text made from bytes reads back to the same bytes.
#include "convert/conversions.h"
#include "convert/numeric.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

int PairValue(const QString& pair)
{
    int value = 0;
    for (QChar c : pair) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        const int digit = QStringLiteral("0123456789ABCDEF").indexOf(c.toUpper());
        if (digit < 0 || c.unicode() > 127)
            break;
        value = value * 16 + digit;
    }
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray bytes = HexToBytes(text);
    if (bytes.size() != qsizetype(std::nearbyint(text.size() / 2.0)))
        std::abort();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) != PairValue(text.mid(2 * i, 2)))
            std::abort();
    }

    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString hex = BytesToHex(raw);
    if (hex.size() != 2 * raw.size() || HexToBytes(hex) != raw)
        std::abort();
    for (QChar c : hex) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            std::abort();
    }
    return 0;
}

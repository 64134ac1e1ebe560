// Bytes shown as text keep one character per byte; text turned into hexadecimal keeps two digits
// per character, and single-byte characters come back as their own bytes.
#include "convert/codepage.h"
#include "convert/conversions.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString shown = BytesToText(raw);
    if (shown.size() != raw.size())
        std::abort();
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (shown.at(i) != AnsiCharOfByte(static_cast<unsigned char>(raw[i])))
            std::abort();
    }

    const QString text = QString::fromUtf8(raw);
    const QString hex = TextToHex(text);
    if (hex.size() != 2 * text.size())
        std::abort();
    const QByteArray back = HexToBytes(hex);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int code = AnsiCodeOfChar(text.at(i));
        if (code < 256 && static_cast<unsigned char>(back[i]) != code)
            std::abort();
    }
    const QByteArray encoded = TextToAnsiBytes(text);
    if (encoded.size() < text.size() || encoded.size() > 2 * text.size())
        std::abort();
    return 0;
}

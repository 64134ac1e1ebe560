// Bytes shown as text keep one character per byte, and every byte that is a character by itself
// is written back to the log as that same byte; text turned into hexadecimal keeps two digits
// per character, and single-byte characters come back as their own bytes.
#include "convert/codepage.h"
#include "convert/conversions.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

const QChar kNotACharacter(0x30FB); // "・"

void CheckBytesShown(const QByteArray& raw)
{
    const QString shown = BytesToText(raw);
    Require(shown.size() == raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(raw[i]);
        Require(shown.at(i) == AnsiCharOfByte(byte));
        const QByteArray back = TextToAnsiBytes(shown.mid(i, 1));
        Require(shown.at(i) == kNotACharacter ? back == "\x81\x45" : back == raw.mid(i, 1));
    }
}

void CheckTextEncoded(const QString& text)
{
    const QString hex = TextToHex(text);
    Require(hex.size() == 2 * text.size());
    const QByteArray back = HexToBytes(hex);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int code = AnsiCodeOfChar(text.at(i));
        Require(code >= 0 && code <= 0xFFFF);
        if (code < 256)
            Require(static_cast<unsigned char>(back[i]) == code);
    }
    // One code-page character for every character of the text, '?' standing in where needed,
    // whichever way the whole text is taken.
    const QByteArray encoded = TextToAnsiBytes(text);
    Require(encoded.size() >= text.size() && encoded.size() <= 2 * text.size());
    QByteArray oneByOne;
    for (QChar c : text)
        oneByOne += TextToAnsiBytes(QString(c));
    Require(encoded == oneByOne);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    CheckBytesShown(raw);
    CheckTextEncoded(QString::fromUtf8(raw));
    return 0;
}

#include "convert/codepage.h"

#include <QStringEncoder>
#include <algorithm>
#include <array>

namespace {

const char* const kCodePage = "windows-31j";
constexpr char16_t kNotACharacter = 0x30FB; // "・"

// The converter cannot be trusted with single bytes: it trades 0x1A, 0x1C and 0x7F among
// themselves and has no character for 0x80, 0xA0 and 0xFD..0xFF, which Windows maps to U+0080
// and to U+F8F0..U+F8F3. So the single-byte half of the code page is written out here, and only
// double-byte characters are left to the converter.
constexpr char16_t kFirstKatakana = 0xFF61;  // byte 0xA1
constexpr char16_t kLastKatakana = 0xFF9F;   // byte 0xDF
constexpr char16_t kPrivateA0 = 0xF8F0;      // byte 0xA0
constexpr char16_t kPrivateFirstFD = 0xF8F1; // bytes 0xFD..0xFF

constexpr char16_t SingleByteChar(int byte)
{
    if (byte <= 0x80)
        return char16_t(byte);
    if (byte == 0xA0)
        return kPrivateA0;
    if (byte >= 0xA1 && byte <= 0xDF)
        return char16_t(kFirstKatakana + (byte - 0xA1));
    if (byte >= 0xFD)
        return char16_t(kPrivateFirstFD + (byte - 0xFD));
    return kNotACharacter; // a lead byte of a double-byte character
}

// The byte of a character that the single-byte half holds, or -1.
int SingleByteOf(QChar c)
{
    const char16_t code = c.unicode();
    if (code <= 0x80)
        return code;
    if (code == kPrivateA0)
        return 0xA0;
    if (code >= kFirstKatakana && code <= kLastKatakana)
        return 0xA1 + (code - kFirstKatakana);
    if (code >= kPrivateFirstFD && code <= kPrivateFirstFD + 2)
        return 0xFD + (code - kPrivateFirstFD);
    return -1;
}

// Stateless, so that a lone high surrogate at the end of a text counts as unmappable instead of
// being held back for a low surrogate that never comes.
constexpr QStringConverter::Flags kEncoderFlags = QStringConverter::Flag::Stateless;

QByteArray EncodeOne(QChar c)
{
    QStringEncoder encoder(kCodePage, kEncoderFlags);
    const QByteArray bytes = encoder.encode(QStringView(&c, 1));
    if (encoder.hasError() || bytes.isEmpty())
        return QByteArray(1, '?');
    return bytes;
}

// Most stretches encode cleanly in one pass; only one with an unmappable character is redone one
// character at a time, so each such character becomes exactly one '?'.
QByteArray EncodeByConverter(QStringView text)
{
    QStringEncoder encoder(kCodePage, kEncoderFlags);
    QByteArray bytes = encoder.encode(text);
    if (!encoder.hasError())
        return bytes;
    bytes.clear();
    for (QChar c : text)
        bytes += EncodeOne(c);
    return bytes;
}

// Single-byte characters as their byte; each stretch of other characters through the converter.
QByteArray EncodeMixed(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(2 * text.size());
    qsizetype start = 0;
    while (start < text.size()) {
        const int single = SingleByteOf(text[start]);
        if (single >= 0) {
            bytes.append(char(single));
            ++start;
            continue;
        }
        qsizetype end = start + 1;
        while (end < text.size() && SingleByteOf(text[end]) < 0)
            ++end;
        bytes += EncodeByConverter(text.mid(start, end - start));
        start = end;
    }
    return bytes;
}

// Copies the text byte for byte while it is plain ASCII; false as soon as it is not.
bool CopyAscii(const QString& text, char* out)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
        *out++ = char(c.unicode());
    }
    return true;
}

// The text in the code page followed by `ending`, in one allocation for plain ASCII (nearly
// every log line).
QByteArray EncodeThenEnd(const QString& text, QByteArrayView ending)
{
    QByteArray bytes(text.size() + ending.size(), Qt::Uninitialized);
    if (!CopyAscii(text, bytes.data()))
        return EncodeMixed(text).append(ending);
    std::copy(ending.begin(), ending.end(), bytes.data() + text.size());
    return bytes;
}

} // namespace

QChar AnsiCharOfByte(unsigned char byte)
{
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> chars{};
        for (int byte = 0; byte < 256; ++byte)
            chars[byte] = SingleByteChar(byte);
        return chars;
    }();
    return QChar(table[byte]);
}

int AnsiCodeOfChar(QChar c)
{
    const int single = SingleByteOf(c);
    if (single >= 0)
        return single;
    const QByteArray bytes = EncodeOne(c);
    if (bytes.size() == 1)
        return static_cast<unsigned char>(bytes.at(0));
    return static_cast<unsigned char>(bytes.at(0)) * 256 + static_cast<unsigned char>(bytes.at(1));
}

QByteArray TextToAnsiBytes(const QString& text)
{
    return EncodeThenEnd(text, {});
}

QByteArray TextToAnsiLine(const QString& text)
{
    return EncodeThenEnd(text, "\r\n");
}

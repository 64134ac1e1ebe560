#include "convert/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <array>

namespace {

const char* const kCodePage = "windows-31j";
constexpr QChar kNotACharacter(0x30FB); // "・"

std::array<QChar, 256> BuildByteTable()
{
    std::array<QChar, 256> table{};
    for (int byte = 0; byte < 256; ++byte) {
        QStringDecoder decoder(kCodePage);
        const char raw = char(byte);
        const QString decoded = decoder.decode(QByteArrayView(&raw, 1));
        const bool single = decoded.size() == 1 && !decoder.hasError();
        table[byte] = single ? decoded.at(0) : kNotACharacter;
    }
    return table;
}

QByteArray EncodeOne(QChar c)
{
    QStringEncoder encoder(kCodePage);
    const QByteArray bytes = encoder.encode(QStringView(&c, 1));
    if (encoder.hasError() || bytes.isEmpty())
        return QByteArray(1, '?');
    return bytes;
}

// Which ASCII characters the code page keeps as their own byte: nearly all, but the converter
// trades a few control characters among themselves.
std::array<bool, 128> BuildAsciiKept()
{
    std::array<bool, 128> kept{};
    for (int c = 0; c < 128; ++c) {
        const QByteArray bytes = EncodeOne(QChar(c));
        kept[c] = bytes.size() == 1 && bytes.at(0) == char(c);
    }
    return kept;
}

// Copies the text byte for byte while every character is one the code page keeps; false as soon
// as one needs the converter.
bool CopyKeptAscii(const QString& text, char* out)
{
    static const std::array<bool, 128> kept = BuildAsciiKept();
    for (QChar c : text) {
        if (c.unicode() >= 128 || !kept[c.unicode()])
            return false;
        *out++ = char(c.unicode());
    }
    return true;
}

// Most texts encode cleanly in one pass; only a text with an unmappable character is redone one
// character at a time, so each such character becomes exactly one '?'.
QByteArray EncodeByConverter(const QString& text)
{
    QStringEncoder encoder(kCodePage);
    QByteArray bytes = encoder.encode(text);
    if (!encoder.hasError())
        return bytes;
    bytes.clear();
    for (QChar c : text)
        bytes += EncodeOne(c);
    return bytes;
}

// The text in the code page followed by `ending`, in one allocation for plain ASCII (nearly
// every log line).
QByteArray EncodeThenEnd(const QString& text, QByteArrayView ending)
{
    QByteArray bytes(text.size() + ending.size(), Qt::Uninitialized);
    if (!CopyKeptAscii(text, bytes.data()))
        return EncodeByConverter(text).append(ending);
    std::copy(ending.begin(), ending.end(), bytes.data() + text.size());
    return bytes;
}

} // namespace

QChar AnsiCharOfByte(unsigned char byte)
{
    static const std::array<QChar, 256> table = BuildByteTable();
    return table[byte];
}

int AnsiCodeOfChar(QChar c)
{
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

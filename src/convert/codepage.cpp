#include "convert/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>
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
    // Most texts encode cleanly in one pass; only a text with an unmappable character is
    // redone one character at a time, so each such character becomes exactly one '?'.
    QStringEncoder encoder(kCodePage);
    QByteArray bytes = encoder.encode(text);
    if (!encoder.hasError())
        return bytes;
    bytes.clear();
    for (QChar c : text)
        bytes += EncodeOne(c);
    return bytes;
}

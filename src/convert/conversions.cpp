#include "convert/conversions.h"

#include "convert/codepage.h"
#include "convert/numeric.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

void AppendHexByte(QString& out, unsigned char byte)
{
    out.append(QLatin1Char(kHexDigits[byte >> 4]));
    out.append(QLatin1Char(kHexDigits[byte & 0x0F]));
}

} // namespace

QString BytesToHex(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size() * 2);
    for (char byte : bytes)
        AppendHexByte(out, static_cast<unsigned char>(byte));
    return out;
}

QString BytesToText(const QByteArray& bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* dest = out.data();
    for (char byte : bytes)
        *dest++ = AnsiCharOfByte(static_cast<unsigned char>(byte));
    return out;
}

QString TextToHex(const QString& text)
{
    QString out;
    out.reserve(text.size() * 2);
    for (QChar c : text)
        AppendHexByte(out, static_cast<unsigned char>(AnsiCodeOfChar(c) & 0xFF));
    return out;
}

int HexByteCount(const QString& text)
{
    return static_cast<int>(RoundHalfEven(text.size() / 2.0));
}

QByteArray HexToBytes(const QString& text)
{
    const int count = HexByteCount(text);
    QByteArray bytes(count > 0 ? count : 0, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const QString piece = QStringLiteral("&H") + text.mid(2 * i, 2);
        bytes[i] = static_cast<char>(static_cast<int>(NumericValue(piece)));
    }
    return bytes;
}

QString TrimSpaces(const QString& text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text.at(start) == u' ')
        ++start;
    while (end > start && text.at(end - 1) == u' ')
        --end;
    return text.mid(start, end - start);
}

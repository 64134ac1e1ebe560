#include "convert/conversions.h"

#include "convert/codepage.h"
#include "convert/numeric.h"

#include <algorithm>

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

QChar* PutHexByte(QChar* out, unsigned char byte)
{
    *out++ = QLatin1Char(kHexDigits[byte >> 4]);
    *out++ = QLatin1Char(kHexDigits[byte & 0x0F]);
    return out;
}

} // namespace

QString BytesToHex(const QByteArray& bytes)
{
    QString out(bytes.size() * 2, Qt::Uninitialized);
    PutBytesAsHex(out.data(), bytes);
    return out;
}

QString BytesToText(const QByteArray& bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    PutBytesAsText(out.data(), bytes);
    return out;
}

QChar* PutBytesAsHex(QChar* out, const QByteArray& bytes)
{
    for (char byte : bytes)
        out = PutHexByte(out, static_cast<unsigned char>(byte));
    return out;
}

QChar* PutBytesAsText(QChar* out, const QByteArray& bytes)
{
    for (char byte : bytes)
        *out++ = AnsiCharOfByte(static_cast<unsigned char>(byte));
    return out;
}

QString TextToHex(const QString& text)
{
    QString out(text.size() * 2, Qt::Uninitialized);
    QChar* dest = out.data();
    for (QChar c : text)
        dest = PutHexByte(dest, static_cast<unsigned char>(AnsiCodeOfChar(c) & 0xFF));
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
    char* dest = bytes.data();
    // Each pair is read as the number "&H" + pair, without building that text.
    char16_t piece[4] = {u'&', u'H'};
    for (int i = 0; i < count; ++i) {
        const QStringView pair = QStringView(text).mid(2 * i, 2);
        std::copy(pair.begin(), pair.end(), reinterpret_cast<QChar*>(piece + 2));
        const double value = NumericValue(QStringView(piece, 2 + pair.size()));
        *dest++ = static_cast<char>(static_cast<int>(value));
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

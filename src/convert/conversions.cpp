#include "convert/conversions.h"

#include "convert/codepage.h"
#include "convert/numeric.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Both digits of every byte, so a byte costs one look-up: a flood shows a hundred thousand
// datagrams a second in hex.
const std::array<std::array<QChar, 2>, 256>& HexPairs()
{
    static const auto pairs = [] {
        const char digits[] = "0123456789ABCDEF";
        std::array<std::array<QChar, 2>, 256> table{};
        for (int byte = 0; byte < 256; ++byte)
            table[byte] = {QLatin1Char(digits[byte >> 4]), QLatin1Char(digits[byte & 0x0F])};
        return table;
    }();
    return pairs;
}

QChar* PutHexByte(QChar* out, unsigned char byte)
{
    const std::array<QChar, 2>& pair = HexPairs()[byte];
    *out++ = pair[0];
    *out++ = pair[1];
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
    const auto& pairs = HexPairs();
    for (char byte : bytes) {
        std::memcpy(out, pairs[static_cast<unsigned char>(byte)].data(), 2 * sizeof(QChar));
        out += 2;
    }
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

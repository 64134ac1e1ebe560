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

namespace {

using EightBytes = unsigned char __attribute__((vector_size(8)));
// Signed lanes: the values are 0 to 255, and signed lanes compare in one instruction.
using EightChars = qint16 __attribute__((vector_size(16)));

// The hexadecimal digit of each lane's value (0 to 15), upper case.
EightChars HexDigits(EightChars values)
{
    constexpr qint16 kZero = '0';
    constexpr qint16 kLettersAfterDigits = 'A' - '9' - 1;
    return values + kZero + (EightChars(values > 9) & kLettersAfterDigits);
}

} // namespace

// Eight bytes at a time, their sixteen digits written in two stores; the last few bytes by the
// table: about half the instructions of a look-up a byte, for every datagram shown or logged.
QChar* PutBytesAsHex(QChar* out, const QByteArray& bytes)
{
    const char* in = bytes.constData();
    const char* const end = in + bytes.size();
    for (; end - in >= 8; in += 8, out += 16) {
        EightBytes block;
        std::memcpy(&block, in, sizeof block);
        const EightChars values = __builtin_convertvector(block, EightChars);
        const EightChars high = HexDigits(values >> 4);
        const EightChars low = HexDigits(values & 0x0F);
        const EightChars first = __builtin_shufflevector(high, low, 0, 8, 1, 9, 2, 10, 3, 11);
        const EightChars second = __builtin_shufflevector(high, low, 4, 12, 5, 13, 6, 14, 7, 15);
        std::memcpy(static_cast<void*>(out), &first, sizeof first);
        std::memcpy(static_cast<void*>(out + 8), &second, sizeof second);
    }
    for (; in != end; ++in)
        out = PutHexByte(out, static_cast<unsigned char>(*in));
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

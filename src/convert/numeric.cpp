#include "convert/numeric.h"

#include <cmath>
#include <limits>
#include <string>

namespace {

QString WithoutBlanks(const QString& text)
{
    QString kept;
    kept.reserve(text.size());
    for (QChar c : text) {
        if (c != u' ' && c != u'\t' && c != u'\n')
            kept.append(c);
    }
    return kept;
}

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

int HexDigitValue(QChar c)
{
    if (IsDigit(c))
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

double ReadHex(const QString& s, int pos)
{
    double value = 0;
    for (; pos < s.size(); ++pos) {
        const int digit = HexDigitValue(s.at(pos));
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return value;
}

// Copies the longest prefix shaped like [sign]digits[.digits][e[sign]digits] into plain ASCII,
// so the standard library does the decimal conversion and its rounding.
std::string DecimalPrefix(const QString& s)
{
    std::string out;
    int pos = 0;
    auto take = [&](QChar c) {
        out.push_back(char(c.unicode()));
        ++pos;
    };
    auto takeDigits = [&] {
        int count = 0;
        while (pos < s.size() && IsDigit(s.at(pos))) {
            take(s.at(pos));
            ++count;
        }
        return count;
    };
    if (pos < s.size() && (s.at(pos) == u'+' || s.at(pos) == u'-'))
        take(s.at(pos));
    int mantissaDigits = takeDigits();
    if (pos < s.size() && s.at(pos) == u'.') {
        take(s.at(pos));
        mantissaDigits += takeDigits();
    }
    if (mantissaDigits == 0)
        return {};
    if (pos < s.size() && (s.at(pos) == u'e' || s.at(pos) == u'E')) {
        const std::string::size_type mark = out.size();
        const int markPos = pos;
        take(QChar(u'e'));
        if (pos < s.size() && (s.at(pos) == u'+' || s.at(pos) == u'-'))
            take(s.at(pos));
        if (takeDigits() == 0) {
            out.resize(mark);
            pos = markPos;
        }
    }
    return out;
}

} // namespace

double NumericValue(const QString& text)
{
    const QString s = WithoutBlanks(text);
    if (s.startsWith(u"&H", Qt::CaseInsensitive))
        return ReadHex(s, 2);
    const std::string decimal = DecimalPrefix(s);
    if (decimal.empty())
        return 0;
    const double value = std::strtod(decimal.c_str(), nullptr);
    return value == 0 ? 0.0 : value; // no negative zero on screen
}

double RoundHalfEven(double value)
{
    return std::nearbyint(value);
}

std::optional<qint32> RoundToInt32(double value)
{
    const double rounded = RoundHalfEven(value);
    if (!(rounded >= std::numeric_limits<qint32>::min() &&
          rounded <= std::numeric_limits<qint32>::max()))
        return std::nullopt;
    return static_cast<qint32>(rounded);
}

#include "convert/numeric.h"

#include "convert/numeric_p.h"

#include <cmath>
#include <limits>
#include <string>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
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

// Walks the text the way the reader sees it: blanks, tabs and line feeds are not there. Reading
// in place keeps the hot callers (a payload is read two digits at a time) free of copies.
class Cursor {
public:
    explicit Cursor(QStringView text) : text_(text) { SkipBlanks(); }
    bool AtEnd() const { return pos_ >= text_.size(); }
    // The current character; NUL at the end.
    QChar Peek() const { return AtEnd() ? QChar() : text_[pos_]; }
    void Next()
    {
        ++pos_;
        SkipBlanks();
    }

private:
    void SkipBlanks()
    {
        while (pos_ < text_.size() && IsBlank(text_[pos_]))
            ++pos_;
    }

    QStringView text_;
    qsizetype pos_ = 0;
};

double ReadHex(Cursor& in)
{
    double value = 0;
    for (int digit = HexDigitValue(in.Peek()); digit >= 0; digit = HexDigitValue(in.Peek())) {
        value = value * 16 + digit;
        in.Next();
    }
    return value;
}

// Copies the longest prefix shaped like [sign]digits[.digits][e[sign]digits] into plain ASCII,
// so the standard library does the decimal conversion and its rounding.
std::string DecimalPrefix(Cursor in)
{
    std::string out;
    auto take = [&](QChar c) {
        out.push_back(char(c.unicode()));
        in.Next();
    };
    auto takeDigits = [&] {
        int count = 0;
        while (IsDigit(in.Peek())) {
            take(in.Peek());
            ++count;
        }
        return count;
    };
    if (in.Peek() == u'+' || in.Peek() == u'-')
        take(in.Peek());
    int mantissaDigits = takeDigits();
    if (in.Peek() == u'.') {
        take(in.Peek());
        mantissaDigits += takeDigits();
    }
    if (mantissaDigits == 0)
        return {};
    if (in.Peek() == u'e' || in.Peek() == u'E') {
        const std::string::size_type mark = out.size();
        const Cursor markPos = in;
        take(QChar(u'e'));
        if (in.Peek() == u'+' || in.Peek() == u'-')
            take(in.Peek());
        if (takeDigits() == 0) {
            out.resize(mark);
            in = markPos;
        }
    }
    return out;
}

// True (and the cursor past it) when the text starts with "&H" in either case.
bool TakeHexPrefix(Cursor& in)
{
    if (in.Peek() != u'&')
        return false;
    Cursor after = in;
    after.Next();
    if (after.Peek() != u'H' && after.Peek() != u'h')
        return false;
    after.Next();
    in = after;
    return true;
}

} // namespace

double NumericValue(QStringView text)
{
    Cursor in(text);
    if (TakeHexPrefix(in))
        return ReadHex(in);
    const std::string decimal = DecimalPrefix(in);
    if (decimal.empty())
        return 0;
    const double value = ReadPointDecimal(decimal.c_str());
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

// The numeric reader never crashes, ignores blanks wherever they are, reads only the number the
// text begins with, and reads "&H" digits as the hexadecimal number they spell.
#include "convert/numeric.h"

#include <QRegularExpression>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool Same(double a, double b)
{
    return a == b || (std::isinf(a) && std::isinf(b) && (a > 0) == (b > 0));
}

QString WithoutBlanks(QString text)
{
    return text.remove(u' ').remove(u'\t').remove(u'\n');
}

// An independent reading of the decimal form: the longest leading match, converted by strtod.
double DecimalOracle(const QString& text)
{
    static const QRegularExpression number(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eE][+-]?[0-9]+)?"));
    const QRegularExpressionMatch match = number.match(WithoutBlanks(text));
    if (!match.hasMatch())
        return 0;
    const double value = std::strtod(match.captured(0).toLatin1().constData(), nullptr);
    return value == 0 ? 0.0 : value;
}

void CheckHex(const QString& text)
{
    QString hexDigits;
    for (QChar c : text) {
        if (std::isxdigit(c.toLatin1()) && c.unicode() < 128 && hexDigits.size() < 12)
            hexDigits.append(c);
    }
    if (hexDigits.isEmpty())
        return;
    const double expected = double(std::strtoull(hexDigits.toLatin1().constData(), nullptr, 16));
    Require(NumericValue(QStringLiteral("&H") + hexDigits) == expected);
    Require(NumericValue(QStringLiteral("&h ") + hexDigits + QStringLiteral("#1")) == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const double value = NumericValue(text);
    Require(!std::isnan(value));

    QString spaced;
    for (QChar c : text) {
        spaced.append(c);
        spaced.append(QLatin1String(" \t\n").at(spaced.size() % 3));
    }
    Require(Same(NumericValue(spaced), value));
    // Nothing after a character that cannot continue a number changes the value.
    Require(Same(NumericValue(text + QStringLiteral("#1") + text), value));
    if (!WithoutBlanks(text).startsWith(u"&H", Qt::CaseInsensitive)) {
        Require(Same(DecimalOracle(text), value));
    }

    const std::optional<qint32> rounded = RoundToInt32(value);
    Require(!rounded || std::fabs(double(*rounded) - value) <= 0.5);
    Require(rounded || std::fabs(value) >= 2147483647.0);

    CheckHex(text);
    return 0;
}

// A short date text is cut by position into eight characters (or nothing), and an eight-digit
// date counts as a date exactly when the calendar has that day. Input: the date text, then
// optionally a NUL byte and a century pivot setting.
#include "convert/numeric.h"
#include "log/weekday.h"
#include "log/zemfmt.h"

#include <QDate>
#include <QLocale>
#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

bool AsciiDigits(const QString& text)
{
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

void CheckCut(const QString& text)
{
    const QString ymd = DateTextToYmd(text);
    if (text.size() < 8) {
        Require(ymd.isEmpty());
        return;
    }
    Require(ymd.size() == 8);
    if (text.size() >= 10) {
        Require(ymd == text.mid(0, 4) + text.mid(5, 2) + text.mid(8, 2));
        Require(DateTextToYmd(text.left(10)) == ymd);
        return;
    }
    Require(ymd.mid(2) == text.mid(0, 2) + text.mid(3, 2) + text.mid(6, 2));
    const bool thisCentury = NumericValue(text.left(2)) < CenturyPivot();
    Require(ymd.left(2) == (thisCentury ? u"20" : u"19"));
}

void CheckCalendar(const QString& text)
{
    const bool valid = IsYmdDate(text);
    const QString weekday = YmdWeekdayName(text);
    if (text.size() != 8 || !AsciiDigits(text)) {
        Require(!valid && weekday.isEmpty());
        return;
    }
    const int year = text.left(4).toInt();
    const int month = text.mid(4, 2).toInt();
    const int day = text.mid(6, 2).toInt();
    // The calendar has no year 0; the year 2000 follows the same leap rule.
    Require(valid == QDate(year == 0 ? 2000 : year, month, day).isValid());
    if (valid && year != 0)
        Require(weekday == QLocale::system().dayName(QDate(year, month, day).dayOfWeek()));
    else if (!valid)
        Require(weekday.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    const QString text = QString::fromUtf8(split < 0 ? input : input.left(split));
    SetCenturyPivotSetting(split < 0 ? QString() : QString::fromUtf8(input.mid(split + 1)));
    if (split < 0)
        Require(CenturyPivot() == 50);

    CheckCut(text);
    CheckCalendar(text);
    // Whatever the cut gives is either a real day or has no weekday name.
    const QString ymd = DateTextToYmd(text);
    Require(IsYmdDate(ymd) || YmdWeekdayName(ymd).isEmpty());
    return 0;
}

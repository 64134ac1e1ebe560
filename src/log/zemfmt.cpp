#include "log/zemfmt.h"

#include "convert/conversions.h"
#include "convert/numeric.h"
#include "log/clock.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <optional>

namespace {

constexpr qint32 kDefaultCenturyPivot = 50;

QString& CenturyPivotSetting()
{
    static QString setting;
    return setting;
}

// The date text the machine would show as its short date. Fixed to the year-first form so the
// locale never decides whether a day file can be named.
QString RegionalShortDate(const QDate& date)
{
    return date.toString(QStringLiteral("yyyy/MM/dd"));
}

// The stamp "MM-dd-yyyy HH:mm:ss" is written digit by digit: every shown and logged line carries
// two of them, and the general date formatter costs more than the rest of a log line.
constexpr qsizetype kDateLength = 10;
constexpr qsizetype kTimeLength = 8;
static_assert(kDateLength + 1 + kTimeLength + 1 == 20, "LineStamp's digits hold one stamp");

char16_t* PutDigits(char16_t* out, int value, int unit)
{
    for (; unit > 0; unit /= 10)
        *out++ = char16_t(u'0' + value / unit % 10);
    return out;
}

struct YearMonthDay {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Empty for what is left to the general formatter: an invalid moment, a year outside 0 to 9999.
std::optional<YearMonthDay> PlainDate(const QDateTime& moment)
{
    if (!moment.isValid())
        return std::nullopt;
    YearMonthDay date;
    moment.date().getDate(&date.year, &date.month, &date.day);
    if (date.year < 0 || date.year > 9999)
        return std::nullopt;
    return date;
}

void PutDate(char16_t* out, const YearMonthDay& date)
{
    out = PutDigits(out, date.month, 10);
    *out++ = u'-';
    out = PutDigits(out, date.day, 10);
    *out++ = u'-';
    PutDigits(out, date.year, 1000);
}

void PutTime(char16_t* out, const QTime& time)
{
    out = PutDigits(out, time.hour(), 10);
    *out++ = u':';
    out = PutDigits(out, time.minute(), 10);
    *out++ = u':';
    PutDigits(out, time.second(), 10);
}

} // namespace

QString FixedDateText(const QDateTime& moment)
{
    const std::optional<YearMonthDay> date = PlainDate(moment);
    if (!date)
        return moment.toString(QStringLiteral("MM-dd-yyyy"));
    char16_t text[kDateLength];
    PutDate(text, *date);
    return QString(reinterpret_cast<const QChar*>(text), kDateLength);
}

QString FixedTimeText(const QDateTime& moment)
{
    if (!moment.isValid())
        return moment.toString(QStringLiteral("HH:mm:ss"));
    char16_t text[kTimeLength];
    PutTime(text, moment.time());
    return QString(reinterpret_cast<const QChar*>(text), kTimeLength);
}

QStringView LineStamp::NowAfresh()
{
    const QStringView digits(digits_, std::size(digits_));
    const std::optional<qint64> second = clock_.SystemSecond();
    const QDateTime now = clock_.Now();
    systemSecond_ = second ? std::optional<qint64>(now.toSecsSinceEpoch()) : std::nullopt;
    const QDate date = now.date();
    const QTime time = now.time();
    if (valid_ && date == date_ && time == time_)
        return Current();
    date_ = date;
    time_ = time;
    valid_ = true;
    const std::optional<YearMonthDay> plain = PlainDate(now);
    if (!plain) {
        general_ = FixedDateText(now) + QLatin1Char(' ') + FixedTimeText(now) + QLatin1Char(' ');
        return general_;
    }
    general_ = QString();
    PutDate(digits_, *plain);
    digits_[kDateLength] = u' ';
    PutTime(digits_ + kDateLength + 1, time);
    digits_[kDateLength + 1 + kTimeLength] = u' ';
    return digits;
}

QString LineStamp::Stamped(const QString& text)
{
    QString line;
    PutStamped(line, text);
    return line;
}

void LineStamp::PutStamped(QString& line, const QString& text)
{
    const QStringView stamp = Now();
    if (line.size() != stamp.size() + text.size())
        line.resize(stamp.size() + text.size());
    std::copy(text.begin(), text.end(), std::copy(stamp.begin(), stamp.end(), line.begin()));
}

QString TodayYmd(const Clock& clock)
{
    return DateTextToYmd(RegionalShortDate(clock.Now().date()));
}

QString DateTextToYmd(const QString& text)
{
    if (text.size() >= 10)
        return text.mid(0, 4) + text.mid(5, 2) + text.mid(8, 2);
    if (text.size() >= 8) {
        const bool thisCentury = NumericValue(text.left(2)) < CenturyPivot();
        const QString century = thisCentury ? QStringLiteral("20") : QStringLiteral("19");
        return century + text.mid(0, 2) + text.mid(3, 2) + text.mid(6, 2);
    }
    return QString();
}

qint32 CenturyPivot()
{
    const QString setting = TrimSpaces(CenturyPivotSetting());
    if (setting.isEmpty())
        return kDefaultCenturyPivot;
    // A value beyond 32 bits puts every two-digit year on the same side, as the bound does.
    const double limit = std::numeric_limits<qint32>::max();
    return RoundToInt32(qBound(-limit - 1, NumericValue(setting), limit)).value_or(0);
}

void SetCenturyPivotSetting(const QString& setting)
{
    CenturyPivotSetting() = setting;
}

#include "log/zemfmt.h"

#include "convert/conversions.h"
#include "convert/numeric.h"
#include "log/clock.h"

#include <limits>

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

} // namespace

QString FixedDateText(const QDateTime& moment)
{
    return moment.toString(QStringLiteral("MM-dd-yyyy"));
}

QString FixedTimeText(const QDateTime& moment)
{
    return moment.toString(QStringLiteral("HH:mm:ss"));
}

QString StampedLine(const QString& text)
{
    const QDateTime now = Now();
    return FixedDateText(now) + QLatin1Char(' ') + FixedTimeText(now) + QLatin1Char(' ') + text;
}

QString TodayYmd()
{
    return DateTextToYmd(RegionalShortDate(Now().date()));
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
